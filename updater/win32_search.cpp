#include <vector>

#include "updater/win32_adapters.h"

namespace quorvel::updater {

std::vector<std::string> Win32SearchDisk::FixedDriveRoots() {
  std::vector<std::string> roots;
  std::vector<char> list(GetLogicalDriveStringsA(0, nullptr) + 1, '\0');
  const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(list.size()), list.data());
  if (length == 0 || length >= list.size()) return roots;
  for (const char* root = list.data(); *root; root += std::char_traits<char>::length(root) + 1) {
    if (GetDriveTypeA(root) == DRIVE_FIXED) roots.emplace_back(root);
  }
  return roots;
}

std::vector<DirectoryEntry> Win32SearchDisk::List(const std::string& pattern) {
  std::vector<DirectoryEntry> entries;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return entries;
  do {
    const DWORD attributes = found.dwFileAttributes;
    entries.push_back({found.cFileName, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                       (attributes & FILE_ATTRIBUTE_HIDDEN) != 0,
                       (attributes & FILE_ATTRIBUTE_SYSTEM) != 0,
                       (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return entries;
}

void Win32SearchDisk::ShowLocation(const std::string& directory, bool redrawWindow) {
  if (!location_) return;
  // The search runs inside a command handler, so nothing repaints unless we ask for it now.
  SetWindowTextA(location_, directory.c_str());
  if (redrawWindow) {
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  } else {
    RedrawWindow(location_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  }
}

}  // namespace quorvel::updater
