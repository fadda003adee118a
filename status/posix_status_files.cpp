// The status program's file access on POSIX hosts (native tests and the benchmark).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "service/platform/posix/host_path.h"
#include "status/status_files.h"

namespace quorvel {
namespace {

class PosixSharedFile : public SharedFile {
 public:
  PosixSharedFile(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  ~PosixSharedFile() override { close(fd_); }
  std::int64_t Size() const override { return size_; }
  std::size_t ReadAt(std::int64_t offset, char* into, std::size_t count) override {
    const ssize_t n = pread(fd_, into, count, static_cast<off_t>(offset));
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }

 private:
  int fd_;
  std::int64_t size_;
};

class PosixStatusFiles : public StatusFiles {
 public:
  OpenedFile OpenShared(const std::string& path) override {
    OpenedFile opened;
    const int fd = open(HostPath(path).c_str(), O_RDONLY);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      const bool missing = fd < 0 && errno == ENOENT;
      if (fd >= 0) close(fd);
      opened.outcome = missing ? OpenOutcome::Missing : OpenOutcome::Unreadable;
      return opened;
    }
    opened.outcome = OpenOutcome::Opened;
    opened.file = std::make_unique<PosixSharedFile>(fd, static_cast<std::int64_t>(info.st_size));
    return opened;
  }
  bool IsFolder(const std::string& path) override {
    struct stat info {};
    return stat(HostPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }
};

}  // namespace

std::unique_ptr<StatusFiles> MakeSystemStatusFiles() {
  return std::make_unique<PosixStatusFiles>();
}

}  // namespace quorvel
