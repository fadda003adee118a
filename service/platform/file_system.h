#pragma once
// Files as the service uses them. Paths are written with backslashes, as on the PC;
// the POSIX implementation (native tests) maps them to slashes.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quorvel {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens `path` with the C runtime `mode` ("ab", "rb", "a+b", "wb", "r+b", ...).
  // With `denyWrite` other programs may read the file while it is open but not write it.
  // Null on failure.
  virtual FileHandle Open(const std::string& path, const char* mode, bool denyWrite) = 0;
  // Flushes `file` and pushes its data to the disk itself, not only to the operating system.
  virtual bool Commit(std::FILE* file) = 0;
  // Replaces `target` by `source` in one atomic step, written through to the disk.
  // On false `target` is unchanged (for example while another program holds it open).
  virtual bool Replace(const std::string& source, const std::string& target) = 0;
  // True when a file or folder of that name exists, whoever holds it open.
  virtual bool Exists(const std::string& path) = 0;
  // Deletes a file; true when it is gone.
  virtual bool Remove(const std::string& path) = 0;
  // Cuts the file at `path` down to its first `size` bytes; true when it is that long.
  virtual bool Truncate(const std::string& path, std::int64_t size) = 0;
  // The system's reason why the last operation failed; empty when it gives none.
  virtual std::string LastErrorText() { return {}; }
};

// The file system of the platform this is built for.
std::unique_ptr<FileSystem> MakeSystemFileSystem();

}  // namespace quorvel
