// Files on Windows: shared opens through the C runtime's _fsopen, commits through _commit,
// and the cache replacement through MoveFileEx, which swaps the file in one step.
#include <io.h>
#include <share.h>
#include <windows.h>

#include <cstdio>

#include "service/platform/file_system.h"
#include "service/platform/win32/system_error.h"

namespace quorvel {
namespace {

class Win32FileSystem : public FileSystem {
 public:
  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override {
    FileHandle file(_fsopen(path.c_str(), mode, denyWrite ? _SH_DENYWR : _SH_DENYNO));
    Noted(file != nullptr);
    return file;
  }
  bool Commit(std::FILE* file) override {
    return Noted(file && std::fflush(file) == 0 && _commit(_fileno(file)) == 0);
  }
  bool Replace(const std::string& source, const std::string& target) override {
    // Fails (target unchanged) while another program holds the target open.
    return Noted(MoveFileExA(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0);
  }
  bool Exists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool Remove(const std::string& path) override { return Noted(DeleteFileA(path.c_str()) != 0); }
  bool Truncate(const std::string& path, std::int64_t size) override {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool cut = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return cut;
  }
  std::string LastErrorText() override { return lastError_; }

 private:
  // Keeps the system's reason of a failed step: later calls may overwrite GetLastError.
  bool Noted(bool succeeded) {
    if (!succeeded) lastError_ = SystemErrorText(GetLastError());
    return succeeded;
  }

  std::string lastError_;
};

}  // namespace

std::unique_ptr<FileSystem> MakeSystemFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace quorvel
