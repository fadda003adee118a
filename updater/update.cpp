#include "updater/update.h"

#include <cctype>
#include <cstdio>

#include "updater/paths.h"
#include "updater/payload.h"
#include "updater/uninstall.h"

namespace quorvel::updater {
namespace {

struct Payload {
  int id;
  const char* fileName;  // beside the target; none for the program file itself
  const char* mismatchFormat;
};

// The library names in the mismatch lines say ".EXE"; operators' instructions quote them so.
constexpr Payload kPayloads[] = {
    {kServicePayload, nullptr, "QUORVELD.EXE CRC mismatch: %08x:%08x"},
    {kHighLevelLibraryPayload, "CDRVHF32.DLL", "CDRVHF32.EXE CRC mismatch: %08x:%08x"},
    {kLowLevelLibraryPayload, "CDRVDL32.DLL", "CDRVDL32.EXE CRC mismatch: %08x:%08x"},
};

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[600];
  std::snprintf(text, sizeof(text), format, args...);
  return text;
}

bool PayloadsAreIntact(UpdateHost& host) {
  bool intact = true;
  for (const Payload& payload : kPayloads) {
    const std::uint32_t computed = host.ComputePayloadCrc(payload.id);
    const std::uint32_t stored = host.ReadStoredCrc(payload.id);
    if (computed != stored) {
      host.AddStatusLine(Format(payload.mismatchFormat, computed, stored));
      intact = false;
    }
  }
  return intact;
}

void ShowVersion(UpdateHost& host, const char* label, const std::string& path) {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
  if (host.GetProductVersion(path, mostSignificant, leastSignificant)) {
    host.AddStatusLine(label + FormatVersion(mostSignificant, leastSignificant));
  }
}

enum class Plan { Update, Install, NothingToDo };

// Unattended, among several copies: the one the autorun value names, or none.
Plan ChooseByAutorun(UpdateHost& host, std::string& target) {
  const std::deque<std::string>& found = host.FoundList();
  const std::string named = Unquoted(host.ReadAutorun());
  for (const std::string& path : found) {
    if (SameWindowsPath(path, named)) {
      target = path;
      return Plan::Update;
    }
  }
  host.AddStatusLine("Several copies found, and the autorun value names none of them:");
  for (const std::string& path : found) host.AddStatusLine("  " + path);
  host.AddStatusLine("Aborting.");
  return Plan::NothingToDo;
}

// The copies in an unpacked release are what the updater carries, not an installation: an
// update of them would leave the autorun value pointing into a download folder.
void PassByReleaseCopies(UpdateHost& host, std::deque<std::string>& found) {
  for (auto it = found.begin(); it != found.end();) {
    if (host.IsReleaseCopy(*it)) {
      host.AddStatusLine("Not an installation (the release's own copy): " + *it);
      it = found.erase(it);
    } else {
      ++it;
    }
  }
}

// Decides between updating an installed copy and a fresh installation; `target` ends up
// naming the file to write.
Plan PlanRun(UpdateHost& host, const RunOptions& options, std::string& target) {
  if (!options.target.empty()) return host.FileIsPresent(target) ? Plan::Update : Plan::Install;
  if (host.FileIsPresent(target) && !host.IsReleaseCopy(target)) return Plan::Update;
  host.AddStatusLine("Searching for quorveld.exe...");
  host.SearchForServiceProgram();
  std::deque<std::string>& found = host.FoundList();
  PassByReleaseCopies(host, found);
  if (found.size() == 1) {
    target = found.front();
    return Plan::Update;
  }
  if (found.size() > 1) {
    if (options.unattended) return ChooseByAutorun(host, target);
    if (host.SelectFile() && !found.empty()) {
      target = found.front();
      return Plan::Update;
    }
  }
  if (!options.unattended && !host.AskToInstall()) {
    host.AddStatusLine("Aborting.");
    return Plan::NothingToDo;
  }
  // The question offers this place, whatever the stop step learnt (possibly nothing).
  target = kDefaultTargetPath;
  return Plan::Install;
}

// The program loads the libraries beside it when it starts, so an update also writes those
// missing, or left there by the build of the other word size. An installation writes all three.
std::vector<PayloadFile> FilesToWrite(UpdateHost& host, Plan plan, const std::string& target) {
  if (plan == Plan::Install) return kInstallationFiles;
  std::vector<PayloadFile> files;
  for (const PayloadFile& file : kInstallationFiles) {
    if (!file.fileName || !host.LibraryMatchesPayload(target, file.fileName, file.id)) {
      files.push_back(file);
    }
  }
  return files;
}

// All files or none; success only when the program and both libraries are then in place.
bool WriteFiles(UpdateHost& host, Plan plan, const std::string& target) {
  return host.WritePayloadSet(target, FilesToWrite(host, plan, target)) &&
         host.InstallationIsComplete(target);
}

// Starts the program at `path`; false when it was not seen running.
bool StartProgram(UpdateHost& host, const std::string& path) {
  switch (host.StartProgramAt(path)) {
    case StartResult::Running:
      host.AddStatusLine("quorveld started.");
      return true;
    case StartResult::LeftToAutorun:
      host.AddStatusLine("Nobody is logged on: quorveld starts at the next log-on.");
      return true;
    case StartResult::Failed:
      break;
  }
  host.AddStatusLine("Failed to start quorveld.");
  return false;
}

// Stops a running service. Without a given target the service's own program file becomes
// the target. True when it stopped a running service, whose program file is then in
// `stoppedPath` ("" when it could not be learnt).
bool StopRunningService(UpdateHost& host, const RunOptions& options, std::string& target,
                        std::string& stoppedPath) {
  if (!host.IsServiceRunning()) return false;
  host.AddStatusLine("quorveld is running.");
  std::string programPath = target;
  const bool stopped = host.StopService(programPath);
  if (!stopped) {
    host.AddStatusLine("The program doesn't want to shut down.");
    host.AddStatusLine("Please close quorveld manually and re-run the updater.");
  }
  if (options.target.empty()) target = programPath;
  stoppedPath = programPath;
  return stopped;
}

// A run that stopped the service and then changed nothing starts the program in place again:
// the site was counting before the updater came.
RunOutcome RestartStopped(UpdateHost& host, const std::string& stoppedPath, RunOutcome outcome) {
  host.AddStatusLine("Starting the stopped program again: " + stoppedPath);
  if (stoppedPath.empty()) {
    host.AddStatusLine("Failed to start quorveld.");
    return RunOutcome::Failed;
  }
  return StartProgram(host, stoppedPath) ? outcome : RunOutcome::Failed;
}

// Registers the written program, and starts it when asked to.
RunOutcome FinishRun(UpdateHost& host, const RunOptions& options, const std::string& target) {
  host.AddStatusLine("Update successful.");
  ShowVersion(host, "Version of new file: ", target);
  const bool registered = host.SetAutorun(AutorunData(target));
  host.AddStatusLine(registered ? "Autorun registry key added."
                                : "Failed to add autorun registry key.");
  RunOutcome outcome = registered ? RunOutcome::Done : RunOutcome::Failed;
  // After the autorun value: a run cut short in between leaves a registered installation that
  // the next update lists and /uninstall finds by that value.
  if (registered && !RegisterUninstall(host, target)) {
    host.AddStatusLine("Failed to add the uninstall entry.");
    outcome = RunOutcome::Failed;
  }
  if (options.startService && !StartProgram(host, target)) outcome = RunOutcome::Failed;
  return outcome;
}

}  // namespace

bool SameWindowsPath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Unquoted(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

std::string AutorunData(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return Format("%lu.%lu.%lu.%lu", static_cast<unsigned long>(mostSignificant >> 16),
                static_cast<unsigned long>(mostSignificant & 0xFFFF),
                static_cast<unsigned long>(leastSignificant >> 16),
                static_cast<unsigned long>(leastSignificant & 0xFFFF));
}

RunOutcome RunUpdate(UpdateHost& host, const RunOptions& options) {
  std::string target = options.target.empty() ? kDefaultTargetPath : options.target;
  host.AddStatusLine("Starting.");
  host.AddStatusLine("Performing internal integrity check.");
  if (!PayloadsAreIntact(host)) {
    host.AddStatusLine("Updater is corrupt.  Terminating update process.");
    return RunOutcome::Corrupt;
  }
  host.AddStatusLine("Update files are intact.");
  std::string stoppedPath;
  const bool stopped = StopRunningService(host, options, target, stoppedPath);

  const Plan plan = PlanRun(host, options, target);
  RunOutcome outcome = RunOutcome::NothingDone;
  if (plan != Plan::NothingToDo) {
    if (plan == Plan::Update) {
      host.AddStatusLine("File to replace: " + target);
      ShowVersion(host, "Version of file to be replaced: ", target);
    }
    if (WriteFiles(host, plan, target)) {
      outcome = FinishRun(host, options, target);
      // With /start the program has been started (or tried) already.
      if (outcome == RunOutcome::Done || options.startService) return outcome;
    } else {
      host.AddStatusLine("Update failed.");
      outcome = RunOutcome::Failed;
    }
  }
  return stopped ? RestartStopped(host, stoppedPath, outcome) : outcome;
}

}  // namespace quorvel::updater
