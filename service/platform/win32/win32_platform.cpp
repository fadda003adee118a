#include "service/platform/win32/win32_platform.h"

#include <time.h>

#include <vector>

#include "framework/system_library.h"
#include "service/platform/win32/system_error.h"

namespace quorvel {
namespace {

// VERSION.dll, loaded from the system folder on first use and kept for the program's life.
struct VersionFunctions {
  decltype(&GetFileVersionInfoSizeA) getFileVersionInfoSize;
  decltype(&GetFileVersionInfoA) getFileVersionInfo;
  decltype(&VerQueryValueA) verQueryValue;
};

const VersionFunctions& Version() {
  static const VersionFunctions functions = [] {
    using framework::LibraryFunction;
    const HMODULE module = framework::LoadSystemLibrary("version.dll");
    return VersionFunctions{
        LibraryFunction<decltype(&GetFileVersionInfoSizeA)>(module, "GetFileVersionInfoSizeA"),
        LibraryFunction<decltype(&GetFileVersionInfoA)>(module, "GetFileVersionInfoA"),
        LibraryFunction<decltype(&VerQueryValueA)>(module, "VerQueryValueA")};
  }();
  return functions;
}

}  // namespace

CalendarTime SystemClock::Now() const { return _time64(nullptr); }

std::tm SystemClock::ToLocal(CalendarTime t) const {
  std::tm local{};
  const __time64_t value = t;
  _localtime64_s(&local, &value);
  return local;
}

CalendarTime SystemClock::FromLocal(std::tm& local) const { return _mktime64(&local); }

std::uint32_t SystemClock::MillisecondsSinceStart() const { return GetTickCount(); }

void SystemClock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

bool AsyncKeyState::IsDown(int virtualKey) const {
  return (static_cast<unsigned short>(GetAsyncKeyState(virtualKey)) & 0x8000u) != 0;
}

void MessageBoxNotifier::Show(const std::string& text, const std::string& caption,
                              MessageIcon icon, MessageOwner owner) {
  UINT flags = MB_OK;
  if (icon == MessageIcon::Information) flags |= MB_ICONINFORMATION;
  if (icon == MessageIcon::Exclamation) flags |= MB_ICONEXCLAMATION;
  HWND parent = owner == MessageOwner::ServiceWindow ? serviceWindow_ : nullptr;
  MessageBoxA(parent, text.c_str(), caption.c_str(), flags);
}

int PrivateProfileStore::GetInt(const std::string& file, const std::string& section,
                                const std::string& key, int fallback) {
  return static_cast<int>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), fallback, file.c_str()));
}

std::string PrivateProfileStore::GetString(const std::string& file, const std::string& section,
                                           const std::string& key, const std::string& fallback,
                                           std::size_t capacity) {
  std::vector<char> buffer(capacity, '\0');
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(),
                                           buffer.data(), static_cast<DWORD>(capacity),
                                           file.c_str());
  return std::string(buffer.data(), n);
}

bool PrivateProfileStore::WriteString(const std::string& file, const std::string& section,
                                      const std::string& key, const std::string& value) {
  if (WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()))
    return true;
  lastError_ = SystemErrorText(GetLastError());
  return false;
}

std::string PrivateProfileStore::PathOf(const std::string& file) {
  char folder[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return {};
  return std::string(folder, n) + "\\" + file;
}

std::string ProgramFilePath() {
  char path[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

std::string FileProductVersion(const std::string& path) {
  const VersionFunctions& api = Version();
  if (!api.getFileVersionInfoSize || !api.getFileVersionInfo || !api.verQueryValue) return {};
  DWORD ignored = 0;
  const DWORD size = api.getFileVersionInfoSize(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!api.getFileVersionInfo(path.c_str(), 0, size, block.data()) ||
      !api.verQueryValue(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info)
    return {};
  char text[64];
  std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                static_cast<unsigned long>(HIWORD(info->dwProductVersionMS)),
                static_cast<unsigned long>(LOWORD(info->dwProductVersionMS)),
                static_cast<unsigned long>(HIWORD(info->dwProductVersionLS)),
                static_cast<unsigned long>(LOWORD(info->dwProductVersionLS)));
  return text;
}

std::string ModuleProgramInfo::ProductVersion() const {
  return FileProductVersion(ProgramFilePath());
}

}  // namespace quorvel
