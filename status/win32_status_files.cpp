// The status program's file access on Windows. The service holds its log and cache open
// denying writes, and replaces the cache when it trims it: opening with every sharing mode,
// delete included, is what lets both go on while this program reads.
#include <windows.h>

#include "status/status_files.h"

namespace quorvel {
namespace {

class Win32SharedFile : public SharedFile {
 public:
  Win32SharedFile(HANDLE file, std::int64_t size) : file_(file), size_(size) {}
  ~Win32SharedFile() override { CloseHandle(file_); }
  std::int64_t Size() const override { return size_; }
  std::size_t ReadAt(std::int64_t offset, char* into, std::size_t count) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    const DWORD wanted = count > 0x10000000 ? 0x10000000 : static_cast<DWORD>(count);
    if (!ReadFile(file_, into, wanted, &read, &at)) return 0;
    return read;
  }

 private:
  HANDLE file_;
  std::int64_t size_;
};

class Win32StatusFiles : public StatusFiles {
 public:
  OpenedFile OpenShared(const std::string& path) override {
    OpenedFile opened;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      opened.outcome = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                           ? OpenOutcome::Missing
                           : OpenOutcome::Unreadable;
      return opened;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
      CloseHandle(file);
      opened.outcome = OpenOutcome::Unreadable;
      return opened;
    }
    opened.outcome = OpenOutcome::Opened;
    opened.file = std::make_unique<Win32SharedFile>(file, size.QuadPart);
    return opened;
  }
  bool IsFolder(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  bool WriteWhole(const std::string& path, const std::string& text) override {
    const std::string temporary = path + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    CloseHandle(file);
    if (whole && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
      return true;
    DeleteFileA(temporary.c_str());
    return false;
  }
};

}  // namespace

std::unique_ptr<StatusFiles> MakeSystemStatusFiles() {
  return std::make_unique<Win32StatusFiles>();
}

}  // namespace quorvel
