#include <vector>

#include "updater/paths.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {
namespace {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kAutorunValue[] = "QuorVel";

}  // namespace

bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                       std::uint32_t& leastSignificant) {
  if (!FitsPathLimit(path)) return false;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
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
  return set == ERROR_SUCCESS;
}

std::string ReadAutorun() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
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

}  // namespace quorvel::updater
