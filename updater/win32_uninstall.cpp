// The files an uninstall removes, the updater's own among them.
#include "service/settings/settings.h"
#include "updater/paths.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {

std::string OwnImagePath() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// The system keeps a running program's file from being deleted, not from being renamed. Moved
// into the system's temporary folder (on the same volume as a rule) it leaves the program's
// folder now and is deleted at the next restart. It is never run from there, so a folder that
// users can write to does not matter. On another volume the move fails, and the file itself is
// deleted at the next restart.
SelfRemoval RemoveOwnImage(const std::string& path) {
  char windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
  const std::string aside = std::string(windows) + "\\Temp\\" + kUninstallerName + "." +
                            std::to_string(GetCurrentProcessId()) + ".delete";
  if (length > 0 && length < MAX_PATH &&
      MoveFileExA(path.c_str(), aside.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    MoveFileExA(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return SelfRemoval::Gone;
  }
  return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? SelfRemoval::AtRestart
                                                                         : SelfRemoval::Failed;
}

std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

bool RemoveFolder(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return RemoveDirectoryA(path.c_str()) != 0;
}

std::string ReadDataFolder() {
  char folder[kPathLimit] = {};
  GetPrivateProfileStringA(kSettingsSection, "LocalDir", "", folder, sizeof(folder), kSettingsFile);
  return folder;
}

std::uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace quorvel::updater
