#include "service/dialogs/options_values.h"

namespace quorvel {
namespace {

// Longest folder name the check uses, leaving room in a MAX_PATH buffer.
constexpr std::size_t kCheckedFolderLength = 259;

bool IsDriveRoot(const std::string& folder) {
  return folder.size() == 3 && folder[1] == ':' && folder[2] == '\\';
}

// The folder the check opens its files in. One trailing backslash goes, except from a drive
// root, where "C:" alone would name the drive's current folder instead.
std::string CheckedFolder(const std::string& localDir) {
  std::string folder = localDir.substr(0, kCheckedFolderLength);
  if (!folder.empty() && folder.back() == '\\' && !IsDriveRoot(folder)) folder.pop_back();
  return folder;
}

std::string FileIn(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '\\') return folder + name;
  return folder + '\\' + name;
}

bool CanAppend(FileSystem& files, const std::string& path, const char* mode) {
  return files.Open(path, mode, true) != nullptr;
}

std::string CannotOpenLine(const std::string& path) {
  return "Unable to open file for write mode:\n" + path + "\n\n";
}

}  // namespace

OptionsValues ValuesFromSettings(const Settings& s) {
  OptionsValues v;
  v.boxRate = static_cast<unsigned>(s.BoxRate);
  v.uploadRate = static_cast<unsigned>(s.UploadRate);
  v.localDir = s.LocalDir;
  v.logging = s.Logging;
  v.serverDomain = s.ServerDomain;
  v.serverPort = static_cast<unsigned>(s.ServerPort);
  v.synchronizeClocks = s.SynchronizeClocks;
  v.encrypt = s.Encrypt;
  v.ignoreProxy = s.IgnoreProxy;
  v.portFlags = s.PortSelected;
  return v;
}

void StoreValues(const OptionsValues& v, Settings& s) {
  s.BoxRate = static_cast<std::int32_t>(v.boxRate);
  s.UploadRate = static_cast<std::int32_t>(v.uploadRate);
  s.LocalDir = StripTrailingBackslashes(v.localDir);
  s.Logging = v.logging;
  s.ServerDomain = v.serverDomain;
  s.ServerPort = static_cast<std::int32_t>(v.serverPort);
  s.SynchronizeClocks = v.synchronizeClocks;
  s.Encrypt = v.encrypt;
  s.IgnoreProxy = v.ignoreProxy;
  s.PortSelected = v.portFlags;
}

std::string StripTrailingBackslashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string CheckLocalFiles(FileSystem& files, const std::string& localDir) {
  const std::string folder = CheckedFolder(localDir);
  const std::string logPath = FileIn(folder, "quorveld.log");
  const std::string cachePath = FileIn(folder, "quorveld.dat");
  // Both are tried, so that one message can name both when both fail.
  const bool logOpens = CanAppend(files, logPath, "a");
  const bool cacheOpens = CanAppend(files, cachePath, "ab");
  if (logOpens && cacheOpens) return {};
  std::string question = "Errors encountered.\n\n";
  if (!logOpens) question += CannotOpenLine(logPath);
  if (!cacheOpens) question += CannotOpenLine(cachePath);
  return question + "Continue anyway?";
}

std::string NotSavedMessage(const WriteFailure& failure) {
  std::string text = "The settings were not saved.\n\nUnable to write file:\n" + failure.file;
  if (!failure.reason.empty()) text += "\n\n" + failure.reason;
  return text;
}

std::vector<PortItem> PortItems(const std::vector<unsigned>& portsFound, const PortFlags& flags,
                                const std::string& textFormat) {
  std::vector<PortItem> items;
  items.reserve(portsFound.size());
  for (const unsigned port : portsFound) {
    std::string text = textFormat;
    const std::size_t marker = text.find("%u");
    if (marker != std::string::npos) text.replace(marker, 2, std::to_string(port));
    const bool flagged = port >= 1 && port <= kPortCount && flags[port - 1] != 0;
    items.push_back({text, static_cast<int>(port - 1u), flagged});
  }
  return items;
}

bool FlagsFromSelection(const std::vector<long long>& selectedData, PortFlags& flags) {
  flags.fill(0);
  if (selectedData.empty()) return false;
  for (const long long index : selectedData) {
    if (index >= 0 && index < kPortCount) flags[static_cast<std::size_t>(index)] = 1;
  }
  return true;
}

}  // namespace quorvel
