#include "updater/win32_adapters.h"
// Toolhelp's header needs windows.h before it.
#include <tlhelp32.h>

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

constexpr char kMutexName[] = "quorveld.0";
constexpr char kWindowTitle[] = "Quorvel Service";

// The name of the file at the end of `path`.
const char* FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

// The program file of process `processId` as the system names it, when it is the service's;
// "" otherwise.
std::string ServiceImagePath(DWORD processId) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return "";
  char buffer[MAX_PATH] = {};
  DWORD size = sizeof(buffer);
  const BOOL found = QueryFullProcessImageNameA(process, 0, buffer, &size);
  CloseHandle(process);
  if (!found) return "";
  const std::string path(buffer, size);
  return lstrcmpiA(FileName(path), kServiceProgramName) == 0 ? path : "";
}

}  // namespace

bool IsServiceRunning() {
  HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName);
  if (!mutex) return false;
  CloseHandle(mutex);
  return true;
}

std::string FindModulePath(DWORD processId) {
  std::string path;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  // A 32-bit program cannot walk a 64-bit program's modules: the platform names its file.
  if (snapshot == INVALID_HANDLE_VALUE) return ServiceImagePath(processId);
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  BOOL more = Module32First(snapshot, &entry);
  const bool listedAny = more;
  for (; more; more = Module32Next(snapshot, &entry)) {
    // The module name is the file name as typed on the command line that started it.
    if (lstrcmpA(entry.szModule, kServiceProgramName) == 0) {
      path = entry.szExePath;
      break;
    }
  }
  CloseHandle(snapshot);
  return listedAny ? path : ServiceImagePath(processId);
}

bool FileIsPresent(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

Win32ServiceProcess::~Win32ServiceProcess() {
  CloseProcess();
  if (mutex_) CloseHandle(mutex_);
}

bool Win32ServiceProcess::OpenServiceMutex() {
  HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName);
  if (!mutex) return false;
  if (mutex_) CloseHandle(mutex_);
  mutex_ = mutex;
  return true;
}

bool Win32ServiceProcess::FindServiceWindow() {
  window_ = FindWindowA(nullptr, kWindowTitle);
  return window_ != nullptr;
}

bool Win32ServiceProcess::OpenProcess() {
  processId_ = 0;
  GetWindowThreadProcessId(window_, &processId_);
  CloseProcess();
  process_ =
      ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, processId_);
  return process_ != nullptr;
}

long long Win32ServiceProcess::AskToClose() {
  return SendMessageA(window_, WM_QUERYENDSESSION, 0, 0);
}

bool Win32ServiceProcess::WaitForAbandonedMutex(unsigned milliseconds) {
  // The service never releases its mutex: it is abandoned once the service's thread has ended.
  return WaitForSingleObject(mutex_, milliseconds) == WAIT_ABANDONED;
}

void Win32ServiceProcess::Terminate(unsigned exitCode, unsigned milliseconds) {
  TerminateProcess(process_, exitCode);
  WaitForSingleObject(process_, milliseconds);
}

bool Win32ServiceProcess::HasEnded() {
  DWORD code = 0;
  return GetExitCodeProcess(process_, &code) && code != STILL_ACTIVE;
}

void Win32ServiceProcess::CloseProcess() {
  if (process_) CloseHandle(process_);
  process_ = nullptr;
}

void Win32ServiceProcess::ReleaseServiceMutex() {
  if (!mutex_) return;
  // We own it after a wait that found it abandoned; otherwise the release just fails.
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

bool StartProgram(const std::string& path) {
  std::string commandLine = "\"" + path + "\"";
  const std::string folder = DirectoryOf(path);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace quorvel::updater
