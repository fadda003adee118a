#include "service/settings/settings.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "service/platform/file_contents.h"

namespace quorvel {
namespace {

int ReadInt(ProfileStore& store, const char* key, int fallback) {
  return store.GetInt(kSettingsFile, kSettingsSection, key, fallback);
}

std::string ReadText(ProfileStore& store, const char* key, const std::string& fallback) {
  return store.GetString(kSettingsFile, kSettingsSection, key, fallback, kSettingTextCapacity);
}

// ComPort is the single port index of older installations: it only builds the
// default of ComPorts, "ComPort" zeros and a one. Zeros beyond the last port change nothing,
// and a stored index in the millions must not become a text of that length.
std::string LegacyPortDefault(int legacyIndex) {
  std::string flags;
  if (legacyIndex > 0)
    flags.assign(static_cast<std::size_t>(std::min(legacyIndex, kPortCount)), '0');
  return flags + "1";
}

bool IsFlagCharacter(char c) { return c == '0' || c == '1'; }

}  // namespace

std::string ProgramDirectory(const std::string& programPath) {
  const auto slash = programPath.rfind('\\');
  return slash == std::string::npos ? programPath : programPath.substr(0, slash);
}

std::string DecodePortFlags(const std::string& compact) {
  std::string flags;
  std::size_t i = 0;
  while (i < compact.size()) {
    if (IsFlagCharacter(compact[i])) {
      flags += compact[i];
      ++i;
      continue;
    }
    if (i + 1 >= compact.size() || i + 2 >= compact.size()) break;  // ends inside a count
    const char digits[3] = {compact[i], compact[i + 1], '\0'};
    const int repeat = std::atoi(digits) - 20;
    if (repeat > 0) flags.append(static_cast<std::size_t>(repeat), compact[i + 2]);
    i += 3;
  }
  return flags;
}

std::string EncodePortFlags(const std::string& flags) {
  constexpr std::size_t kLongestRun = 79;
  std::string compact;
  std::size_t i = 0;
  while (i < flags.size()) {
    const char kind = flags[i] == '0' ? '0' : '1';
    std::size_t run = 1;
    while (i + run < flags.size() && run < kLongestRun && (flags[i + run] == '0') == (kind == '0'))
      ++run;
    if (run <= 3) {
      compact.append(run, kind);
    } else {
      compact += std::to_string(run + 20);
      compact += kind;
    }
    i += run;
  }
  return compact;
}

Settings ReadSettings(ProfileStore& store, const std::string& programDirectory) {
  Settings s;
  s.ServerDomain = ReadText(store, "ServerDomain", kDefaultServerHost);
  s.ServerPort = ReadInt(store, "ServerPort", 80);
  s.IgnoreProxy = ReadInt(store, "IgnoreProxy", 1);
  s.LocalDir = ReadText(store, "LocalDir", programDirectory);
  s.SynchronizeClocks = ReadInt(store, "SynchronizeClocks", 1);
  s.Logging = ReadInt(store, "Logging", 1);
  s.BoxRate = ReadInt(store, "BoxRate", 24);
  s.UploadRate = ReadInt(store, "UploadRate", 4);
  const int legacyPort = ReadInt(store, "ComPort", 0);
  const std::string flags = DecodePortFlags(ReadText(store, "ComPorts", LegacyPortDefault(legacyPort)));
  for (std::size_t i = 0; i < flags.size() && i < kPortCount; ++i)
    s.PortSelected[i] = flags[i] == '1' ? 1 : 0;
  s.Encrypt = ReadInt(store, "Encrypt", 0);
  s.Secure = ReadInt(store, "Secure", 0) == 1 ? 1 : 0;

  if (s.UploadRate == 0) s.UploadRate = 4;
  if (s.BoxRate == 0) s.BoxRate = 4;
  if (s.ServerPort == 0) s.ServerPort = 80;
  if (s.LocalDir.empty()) s.LocalDir = programDirectory;
  if (s.ServerDomain.empty()) s.ServerDomain = kFallbackServerAddress;
  return s;
}

bool WriteSettings(ProfileStore& store, const Settings& s) {
  const std::pair<const char*, std::string> entries[] = {
      {"ComPorts", EncodePortFlags(PortFlagText(s))},
      {"SynchronizeClocks", std::to_string(s.SynchronizeClocks)},
      {"LocalDir", s.LocalDir},
      {"Logging", std::to_string(s.Logging)},
      {"BoxRate", std::to_string(s.BoxRate)},
      {"UploadRate", std::to_string(s.UploadRate)},
      {"Encrypt", std::to_string(s.Encrypt)},
      {"ServerDomain", s.ServerDomain},
      {"ServerPort", std::to_string(s.ServerPort)},
      {"IgnoreProxy", std::to_string(s.IgnoreProxy)},
  };
  for (const auto& [key, value] : entries)
    if (!store.WriteString(kSettingsFile, kSettingsSection, key, value)) return false;
  return true;
}

std::string SettingsCopyPath(ProfileStore& store) {
  const std::string path = store.PathOf(kSettingsFile);
  return path.empty() ? path : path + kSettingsCopySuffix;
}

std::optional<WriteFailure> SaveSettings(ProfileStore& store, FileSystem& files,
                                         const Settings& settings) {
  const std::string path = store.PathOf(kSettingsFile);
  const std::string copy = SettingsCopyPath(store);
  // A user who may write quorveld.INI yet not create files beside it in the Windows folder
  // saves as before, in place and without the copy; one who may do neither is told about the
  // settings file itself.
  const bool copied = !path.empty() && KeepCommittedCopy(files, path, copy);
  if (!WriteSettings(store, settings)) {
    const WriteFailure failure{path.empty() ? kSettingsFile : path, store.LastErrorText()};
    if (copied) RestoreCommittedCopy(files, path, copy);
    return failure;
  }
  if (copied && !DropCommittedCopy(files, path, copy))
    return WriteFailure{path, files.LastErrorText()};
  return std::nullopt;
}

void RestoreSettingsFile(ProfileStore& store, FileSystem& files) {
  const std::string path = store.PathOf(kSettingsFile);
  if (!path.empty()) RestoreCommittedCopy(files, path, SettingsCopyPath(store));
}

int SelectedPortCount(const Settings& settings) {
  int n = 0;
  for (auto flag : settings.PortSelected) n += flag != 0;
  return n;
}

std::string PortFlagText(const Settings& settings) {
  std::string text(kPortCount, '0');
  for (int i = 0; i < kPortCount; ++i)
    if (settings.PortSelected[i]) text[i] = '1';
  return text;
}

}  // namespace quorvel
