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

std::string ReadAutorunIn(REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE | view, &key) !=
      ERROR_SUCCESS) {
    return "";
  }
  char data[kPathLimit + 2] = {};
  DWORD type = 0;
  DWORD size = sizeof(data) - 1;  // leaves a terminating zero even if the data has none
  const LONG read =
      RegQueryValueExA(key, kAutorunValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : std::string();
}

// Removes the value from the other view, so that one value names the program.
void RemoveAutorunFromOtherView() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE | kOtherView, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, kAutorunValue);
  RegCloseKey(key);
}

using GetSizeFunction = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetInfoFunction = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

}  // namespace

bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                       std::uint32_t& leastSignificant) {
  if (!FitsPathLimit(path)) return false;
  static const auto getSize =
      framework::SystemFunction<GetSizeFunction>("version.dll", "GetFileVersionInfoSizeA");
  static const auto getInfo =
      framework::SystemFunction<GetInfoFunction>("version.dll", "GetFileVersionInfoA");
  static const auto query =
      framework::SystemFunction<QueryFunction>("version.dll", "VerQueryValueA");
  if (!getSize || !getInfo || !query) return false;
  DWORD ignored = 0;
  const DWORD size = getSize(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!getInfo(path.c_str(), 0, size, block.data()) ||
      !query(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
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

}  // namespace quorvel::updater
