#pragma once
// Private profile (INI) files given by bare name, so they live in the Windows directory.
#include <string>

namespace quorvel {

// A write that did not reach its file: the file, and the system's reason.
struct WriteFailure {
  std::string file;
  std::string reason;
};

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  // The platform's integer reader: leading digits with sign, "abc" gives 0,
  // a missing key or empty value gives `fallback`.
  virtual int GetInt(const std::string& file, const std::string& section, const std::string& key,
                     int fallback) = 0;
  // Text of at most `capacity` - 1 characters; `fallback` when the key is missing.
  virtual std::string GetString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& fallback,
                                std::size_t capacity) = 0;
  virtual bool WriteString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
  // The file a bare name stands for; empty where profiles are not files one can reach.
  virtual std::string PathOf(const std::string& /*file*/) { return {}; }
  // The system's reason why the last WriteString failed; empty when it gives none.
  virtual std::string LastErrorText() { return {}; }
};

}  // namespace quorvel
