#pragma once
// A fresh folder for one test, removed afterwards. Paths use backslashes as the service does.
#include <filesystem>
#include <string>

namespace quorvel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder as the service names it (backslash-separated on every platform).
  std::string ServicePath() const;
  // A file in it, as a real path for reading back.
  std::filesystem::path File(const std::string& name) const { return dir_ / name; }
  std::string Read(const std::string& name) const;
  void Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path dir_;
};

}  // namespace quorvel::testing
