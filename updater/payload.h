#pragma once
// Writing the payloads the updater carries, with retries for files that are briefly in use or
// read-only.
#include <string>

namespace quorvel::updater {

inline constexpr int kServicePayload = 130;
inline constexpr int kHighLevelLibraryPayload = 131;
inline constexpr int kLowLevelLibraryPayload = 132;

enum class DirectoryResult { Created, AlreadyExists, Failed };

class PayloadDisk {
 public:
  virtual ~PayloadDisk() = default;
  // True when the payload `id` is in the updater's image.
  virtual bool HasPayload(int id) = 0;
  // Creates one directory level (its parent must exist).
  virtual DirectoryResult MakeDirectory(const std::string& path) = 0;
  // One attempt: creates or truncates `path` (no sharing, written through) and writes payload
  // `id` with one call; true only when every byte was written.
  virtual bool WritePayload(const std::string& path, int id) = 0;
  virtual void ClearReadOnly(const std::string& path) = 0;
  virtual void Pause(unsigned milliseconds) = 0;
};

// Writes payload `id` to `target`, or to `fileName` in the target's directory when one is
// given; creates that directory (one level) if needed. True when the file was written whole.
bool WritePayloadFile(PayloadDisk& disk, const std::string& target, const char* fileName, int id);

}  // namespace quorvel::updater
