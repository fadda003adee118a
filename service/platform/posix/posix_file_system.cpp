// The file system on POSIX hosts, where the native unit tests run. Service paths carry
// backslashes; here they become slashes. Sharing modes do not exist and are ignored.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "service/platform/posix/host_path.h"
#include "service/platform/file_system.h"

namespace quorvel {
namespace {

class PosixFileSystem : public FileSystem {
 public:
  FileHandle Open(const std::string& path, const char* mode, bool /*denyWrite*/) override {
    return FileHandle(std::fopen(HostPath(path).c_str(), mode));
  }
  bool Commit(std::FILE* file) override {
    return file && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  }
  bool Replace(const std::string& source, const std::string& target) override {
    return std::rename(HostPath(source).c_str(), HostPath(target).c_str()) == 0;
  }
  bool Exists(const std::string& path) override {
    return access(HostPath(path).c_str(), F_OK) == 0;
  }
  bool Remove(const std::string& path) override {
    return std::remove(HostPath(path).c_str()) == 0;
  }
  bool Truncate(const std::string& path, std::int64_t size) override {
    return truncate(HostPath(path).c_str(), static_cast<off_t>(size)) == 0;
  }
  std::string LastErrorText() override { return std::strerror(errno); }
};

}  // namespace

std::unique_ptr<FileSystem> MakeSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace quorvel
