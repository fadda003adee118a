// quorvel-status.exe: a console program that prints the site's health and exits with the
// monitoring plugin convention's code. It only reads; the service's files stay fully shared.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/system_library.h"
#include "service/platform/win32/win32_platform.h"
#include "service/settings/settings.h"
#include "status/status_check.h"

namespace {

constexpr const char* kMutexName = "quorveld.0";
constexpr const char* kWindowTitle = "Quorvel Service";
constexpr const char* kProgramName = "quorveld.exe";

// A quorveld.exe among all processes. The mutex and the window belong to the session of the
// user who runs the service; a monitoring agent running as a system service sees neither.
bool ServiceProcessExists() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found;
       more = Process32Next(snapshot, &entry))
    found = lstrcmpiA(entry.szExeFile, kProgramName) == 0;
  CloseHandle(snapshot);
  return found;
}

// The service holds its single-instance mutex while it lives; its hidden window and its
// process are the other signs.
bool ServiceRunning() {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
  if (mutex) {
    CloseHandle(mutex);
    return true;
  }
  return FindWindowA(nullptr, kWindowTitle) != nullptr || ServiceProcessExists();
}

std::string WindowsIniPath() {
  char folder[MAX_PATH + 1] = {};
  const UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  std::string path = n > 0 && n <= MAX_PATH ? folder : "C:\\Windows";
  return path + "\\" + quorvel::kSettingsFile;
}

// A relative --ini path means the current folder: a bare name would otherwise be looked for
// in the Windows folder by the profile functions.
std::string FullPath(const std::string& path) {
  char full[MAX_PATH + 1] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n <= MAX_PATH ? std::string(full) : path;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::framework::RestrictLibrarySearch();
  using namespace quorvel;
  StatusOptions options;
  std::string error;
  if (!ParseStatusOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    Print("QUORVEL UNKNOWN - " + error + "\n" + kStatusUsage);
    return static_cast<int>(Verdict::Unknown);
  }
  if (options.help) {
    Print(kStatusUsage);
    return static_cast<int>(Verdict::Unknown);
  }
  if (options.ini) options.ini = FullPath(*options.ini);

  SystemClock clock;
  PrivateProfileStore profiles;
  const std::unique_ptr<StatusFiles> files = MakeSystemStatusFiles();
  // Shipped beside quorveld.exe: its folder is quorveld's default storage folder too, and the
  // quorveld.exe there is the installed program.
  const std::string folder = ProgramDirectory(ProgramFilePath());
  const std::string program = folder + "\\" + kProgramName;
  Surroundings around{profiles,         *files, clock,   ServiceRunning(),
                      WindowsIniPath(), folder, program, FileProductVersion(program)};

  const SiteStatus status = GatherStatus(options, around);
  Judgement judgement = Judge(status);
  if (options.prom &&
      !files->WriteWhole(FullPath(*options.prom), StatusMetrics(status, judgement, clock)))
    AddProblem(judgement, Verdict::Unknown, "cannot write the metrics to " + *options.prom);
  Print(options.json ? StatusJson(status, judgement, clock) : StatusText(status, judgement, clock));
  return static_cast<int>(judgement.verdict);
}
