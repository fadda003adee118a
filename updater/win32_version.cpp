#include <vector>

#include "framework/system_library.h"
#include "updater/paths.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {
namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAutorunValue[] = "QuorVel";

// The value lies in the view of the program's own word size; an installation by a program of
// the other one wrote it in the other view.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The text value `name` of HKLM\`keyPath` in `view`; "" when it is missing or not text.
std::string ReadMachineText(REGSAM view, const char* keyPath, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS) {
    return "";
  }
  char data[kPathLimit + 2] = {};
  DWORD type = 0;
  DWORD size = sizeof(data) - 1;  // leaves a terminating zero even if the data has none
  const LONG read =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : std::string();
}

std::string ReadAutorunIn(REGSAM view) {
  return ReadMachineText(view, kRunKey, kAutorunValue);
}

void RemoveAutorunFrom(REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | view, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, kAutorunValue);
  RegCloseKey(key);
}

// Removes the value from the other view, so that one value names the program.
void RemoveAutorunFromOtherView() {
  RemoveAutorunFrom(kOtherView);
}

bool SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof(number)) == ERROR_SUCCESS;
}

// The text value `name` of the uninstall entry in `view`.
std::string ReadEntryTextIn(REGSAM view, const char* name) {
  return ReadMachineText(view, kUninstallKey, name);
}

bool EntryIsIn(REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void RemoveEntryFrom(REGSAM view) {
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, view, 0);
}

using GetSizeFunction = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetInfoFunction = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

// version.dll's functions, loaded from the system folder on first use.
struct VersionFunctions {
  GetSizeFunction getSize;
  GetInfoFunction getInfo;
  QueryFunction query;
};

const VersionFunctions& Version() {
  static const VersionFunctions functions{
      framework::SystemFunction<GetSizeFunction>("version.dll", "GetFileVersionInfoSizeA"),
      framework::SystemFunction<GetInfoFunction>("version.dll", "GetFileVersionInfoA"),
      framework::SystemFunction<QueryFunction>("version.dll", "VerQueryValueA")};
  return functions;
}

// The version information of a file; empty when it has none or cannot be read.
class VersionBlock {
 public:
  explicit VersionBlock(const std::string& path) {
    const VersionFunctions& version = Version();
    if (!FitsPathLimit(path) || !version.getSize || !version.getInfo || !version.query) return;
    DWORD ignored = 0;
    const DWORD size = version.getSize(path.c_str(), &ignored);
    if (size == 0) return;
    data_.resize(size);
    if (!version.getInfo(path.c_str(), 0, size, data_.data())) data_.clear();
  }
  bool Query(const char* item, void** value, UINT* length) const {
    return !data_.empty() && Version().query(data_.data(), item, value, length);
  }

 private:
  std::vector<char> data_;
};

}  // namespace

bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                       std::uint32_t& leastSignificant) {
  const VersionBlock block(path);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!block.Query("\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  mostSignificant = fixed->dwProductVersionMS;
  leastSignificant = fixed->dwProductVersionLS;
  return true;
}

bool SetAutorun(const std::string& programPath) {
  HKEY key = nullptr;
  // Opened, never created: the key belongs to the system.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
    return false;
  }
  const LONG set = RegSetValueExA(key, kAutorunValue, 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(programPath.c_str()),
                                  static_cast<DWORD>(programPath.size() + 1));
  RegCloseKey(key);
  if (set != ERROR_SUCCESS) return false;
  RemoveAutorunFromOtherView();
  return true;
}

std::string ReadAutorun() {
  const std::string own = ReadAutorunIn(0);
  return own.empty() ? ReadAutorunIn(kOtherView) : own;
}

bool RemoveAutorun() {
  RemoveAutorunFrom(0);
  RemoveAutorunFromOtherView();
  return ReadAutorunIn(0).empty() && ReadAutorunIn(kOtherView).empty();
}

std::string GetCompanyName(const std::string& path) {
  const VersionBlock block(path);
  WORD* translation = nullptr;
  UINT translationSize = 0;
  if (!block.Query("\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                   &translationSize) ||
      translationSize < 2 * sizeof(WORD)) {
    return "";
  }
  char name[64];
  wsprintfA(name, "\\StringFileInfo\\%04x%04x\\CompanyName", translation[0], translation[1]);
  char* text = nullptr;
  UINT length = 0;
  if (!block.Query(name, reinterpret_cast<void**>(&text), &length) || !text) return "";
  return std::string(text);
}

bool WriteUninstallEntry(const UninstallEntry& entry) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // The list shows no entry without a display name: it comes last, so that an entry cut short
  // stays out of sight (and the next update completes it).
  const bool written = SetText(key, "DisplayIcon", entry.displayIcon) &&
                       SetText(key, "InstallLocation", entry.installLocation) &&
                       SetText(key, "UninstallString", entry.uninstallString) &&
                       SetText(key, "QuietUninstallString", entry.quietUninstallString) &&
                       SetText(key, "DisplayVersion", entry.displayVersion) &&
                       SetText(key, "Publisher", entry.publisher) &&
                       SetNumber(key, "EstimatedSize", entry.estimatedSizeKb) &&
                       SetNumber(key, "NoModify", 1) && SetNumber(key, "NoRepair", 1) &&
                       SetText(key, "DisplayName", entry.displayName);
  RegCloseKey(key);
  if (written) RemoveEntryFrom(kOtherView);
  return written;
}

std::string ReadUninstallEntryProgram() {
  const std::string own = ReadEntryTextIn(0, "DisplayIcon");
  return own.empty() ? ReadEntryTextIn(kOtherView, "DisplayIcon") : own;
}

bool RemoveUninstallEntry() {
  RemoveEntryFrom(0);
  RemoveEntryFrom(kOtherView);
  return !EntryIsIn(0) && !EntryIsIn(kOtherView);
}

}  // namespace quorvel::updater
