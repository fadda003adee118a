#include "updater/win32_adapters.h"
// Toolhelp's header needs windows.h before it.
#include <tlhelp32.h>

#include "framework/system_library.h"
#include "updater/paths.h"
#include "updater/start_session.h"

namespace quorvel::updater {
namespace {

// The service holds both: the first in its own session, the second machine-wide, which the
// updater sees from any session.
constexpr const char* kMutexNames[] = {"quorveld.0", "Global\\quorveld.0"};
constexpr char kWindowTitle[] = "Quorvel Service";
// A service that has not answered the close request by then counts as refusing.
constexpr UINT kCloseRequestTimeout = 5000;
// How long a started service has to show its mutex or window.
constexpr DWORD kStartWait = 5000;
constexpr DWORD kStartPoll = 100;

HANDLE OpenAnyServiceMutex() {
  for (const char* name : kMutexNames) {
    if (HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name)) return mutex;
    // Another account's machine-wide mutex may refuse full access; it is there all the same.
    if (HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name)) return mutex;
  }
  return nullptr;
}

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

// The first process of the service program in any session, found by its program file's name;
// 0 when there is none.
DWORD FindServiceProcessId() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  DWORD found = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && !found;
       more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(FileName(entry.szExeFile), kServiceProgramName) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

bool ServiceIsSeen() {
  HANDLE mutex = OpenAnyServiceMutex();
  if (mutex) CloseHandle(mutex);
  return mutex || FindWindowA(nullptr, kWindowTitle);
}

StartResult SeenRunningWithin(DWORD milliseconds) {
  for (DWORD waited = 0; waited < milliseconds; waited += kStartPoll) {
    if (ServiceIsSeen()) return StartResult::Running;
    Sleep(kStartPoll);
  }
  return ServiceIsSeen() ? StartResult::Running : StartResult::Failed;
}

using QueryUserTokenFunction = BOOL(WINAPI*)(ULONG, PHANDLE);

// The token of the user logged on at the console; null when nobody is, or when the updater may
// not have it (only the system account may).
HANDLE ConsoleUserToken() {
  const DWORD session = WTSGetActiveConsoleSessionId();
  if (session == 0xFFFFFFFF) return nullptr;
  static const auto queryUserToken =
      framework::SystemFunction<QueryUserTokenFunction>("wtsapi32.dll", "WTSQueryUserToken");
  HANDLE token = nullptr;
  return queryUserToken && queryUserToken(session, &token) ? token : nullptr;
}

unsigned OwnSession() {
  DWORD session = 0;
  return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 1;
}

// Starts the program, as `user` on the interactive desktop when a token is given.
bool CreateServiceProcess(const std::string& path, HANDLE user) {
  std::string commandLine = "\"" + path + "\"";
  const std::string folder = DirectoryOf(path);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  char desktop[] = "winsta0\\default";
  if (user) startup.lpDesktop = desktop;
  PROCESS_INFORMATION process{};
  const char* directory = folder.empty() ? nullptr : folder.c_str();
  const BOOL created =
      user ? CreateProcessAsUserA(user, path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                  nullptr, directory, &startup, &process)
           : CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                            directory, &startup, &process);
  if (!created) return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

bool IsServiceRunning() {
  HANDLE mutex = OpenAnyServiceMutex();
  if (mutex) {
    CloseHandle(mutex);
    return true;
  }
  return FindServiceProcessId() != 0;
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
  HANDLE mutex = OpenAnyServiceMutex();
  if (!mutex) return false;
  if (mutex_) CloseHandle(mutex_);
  mutex_ = mutex;
  return true;
}

bool Win32ServiceProcess::FindServiceProcess() {
  foundProcessId_ = FindServiceProcessId();
  return foundProcessId_ != 0;
}

bool Win32ServiceProcess::FindServiceWindow() {
  window_ = FindWindowA(nullptr, kWindowTitle);
  return window_ != nullptr;
}

bool Win32ServiceProcess::OpenProcess() {
  processId_ = foundProcessId_;
  if (window_) GetWindowThreadProcessId(window_, &processId_);
  CloseProcess();
  process_ =
      ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, processId_);
  return process_ != nullptr;
}

long long Win32ServiceProcess::AskToClose() {
  DWORD_PTR reply = 0;
  // A hung program would keep a plain send waiting for ever.
  if (!SendMessageTimeoutA(window_, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                           kCloseRequestTimeout, &reply)) {
    return 0;
  }
  return static_cast<long long>(reply);
}

bool Win32ServiceProcess::WaitForServiceToEnd(unsigned milliseconds) {
  // The service never releases its mutex: it is abandoned once the service's thread has ended.
  if (mutex_) return WaitForSingleObject(mutex_, milliseconds) == WAIT_ABANDONED;
  return process_ && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
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

StartResult StartProgram(const std::string& path) {
  HANDLE user = nullptr;
  const unsigned ownSession = OwnSession();
  if (ownSession == kServicesSession) user = ConsoleUserToken();
  const StartWhere where = ChooseStartSession({ownSession, user != nullptr});
  if (where == StartWhere::AtNextLogOn) return StartResult::LeftToAutorun;
  const bool created =
      CreateServiceProcess(path, where == StartWhere::UserSession ? user : nullptr);
  if (user) CloseHandle(user);
  return created ? SeenRunningWithin(kStartWait) : StartResult::Failed;
}

}  // namespace quorvel::updater
