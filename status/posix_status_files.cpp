// The status program's file access on POSIX hosts (native tests and the benchmark).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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
  bool WriteWhole(const std::string& path, const std::string& text) override {
    const std::string target = HostPath(path);
    const std::string temporary = target + ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) == 0 && whole && std::rename(temporary.c_str(), target.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
  }
};

}  // namespace

std::unique_ptr<StatusFiles> MakeSystemStatusFiles() {
  return std::make_unique<PosixStatusFiles>();
}

}  // namespace quorvel
