#pragma once
// The service's files as the status program reads them: opened for reading only, sharing
// everything with the service (it may go on writing, trimming and replacing them), read at
// explicit offsets so a huge file is read piece by piece. Paths carry backslashes, as on the PC.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvel {

class SharedFile {
 public:
  virtual ~SharedFile() = default;
  // Size when opened.
  virtual std::int64_t Size() const = 0;
  // Reads up to `count` bytes at `offset` into `into`; the bytes read, 0 at the end or on failure.
  virtual std::size_t ReadAt(std::int64_t offset, char* into, std::size_t count) = 0;
};

enum class OpenOutcome { Opened, Missing, Unreadable };

struct OpenedFile {
  OpenOutcome outcome = OpenOutcome::Missing;
  std::unique_ptr<SharedFile> file;  // set when Opened
};

class StatusFiles {
 public:
  virtual ~StatusFiles() = default;
  virtual OpenedFile OpenShared(const std::string& path) = 0;
  // True when `path` names an existing folder.
  virtual bool IsFolder(const std::string& path) = 0;
  // Writes `text` to `path` + ".tmp" and renames it over `path`, so a reader sees the old
  // file or the new one, never half of one. The only file this program writes.
  virtual bool WriteWhole(const std::string& path, const std::string& text) = 0;
};

// The files of the platform this is built for.
std::unique_ptr<StatusFiles> MakeSystemStatusFiles();

// A file held in memory, for tests and the fuzz target.
class TextFile : public SharedFile {
 public:
  explicit TextFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  std::size_t ReadAt(std::int64_t offset, char* into, std::size_t count) override;

 private:
  std::string bytes_;
};

}  // namespace quorvel
