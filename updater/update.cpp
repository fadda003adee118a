#include "updater/update.h"

#include <cctype>
#include <cstdio>

#include "updater/paths.h"
#include "updater/payload.h"

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

// Other tools write the autorun value quoted; ours is not.
std::string Unquoted(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

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

// Decides between updating an installed copy and a fresh installation; `target` ends up
// naming the file to write.
Plan PlanRun(UpdateHost& host, const RunOptions& options, std::string& target) {
  if (host.FileIsPresent(target)) return Plan::Update;
  if (!options.target.empty()) return Plan::Install;
  host.AddStatusLine("Searching for quorveld.exe...");
  host.SearchForServiceProgram();
  std::deque<std::string>& found = host.FoundList();
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

// All three files are always attempted. The service cannot start without its program or
// without either library, so a library whose write failed must at least be there already.
bool InstallAll(UpdateHost& host, const std::string& target) {
  bool complete = true;
  for (const Payload& payload : kPayloads) {
    if (host.WritePayloadFile(target, payload.fileName, payload.id)) continue;
    const bool alreadyThere =
        payload.fileName && host.FileIsPresent(DirectoryOf(target) + payload.fileName);
    if (!alreadyThere) complete = false;
  }
  return complete;
}

// An update writes the program file. The program loads the libraries beside it when it starts,
// so those missing, or left there by the build of the other word size, are written too.
bool UpdateProgram(UpdateHost& host, const std::string& target) {
  if (!host.WritePayloadFile(target, nullptr, kServicePayload)) return false;
  for (const Payload& payload : kPayloads) {
    if (!payload.fileName || host.LibraryMatchesPayload(target, payload.fileName, payload.id)) {
      continue;
    }
    if (!host.WritePayloadFile(target, payload.fileName, payload.id)) return false;
  }
  return true;
}

// Stops a running service. Without a given target the service's own program file becomes
// the target.
void StopRunningService(UpdateHost& host, const RunOptions& options, std::string& target) {
  if (!host.IsServiceRunning()) return;
  host.AddStatusLine("quorveld is running.");
  std::string programPath = target;
  if (!host.StopService(programPath)) {
    host.AddStatusLine("The program doesn't want to shut down.");
    host.AddStatusLine("Please close quorveld manually and re-run the updater.");
  }
  if (options.target.empty()) target = programPath;
}

// Registers the written program, and starts it when asked to.
RunOutcome FinishRun(UpdateHost& host, const RunOptions& options, const std::string& target) {
  host.AddStatusLine("Update successful.");
  ShowVersion(host, "Version of new file: ", target);
  const bool registered = host.SetAutorun(target);
  host.AddStatusLine(registered ? "Autorun registry key added."
                                : "Failed to add autorun registry key.");
  RunOutcome outcome = registered ? RunOutcome::Done : RunOutcome::Failed;
  if (options.startService) {
    if (host.StartProgramAt(target)) {
      host.AddStatusLine("quorveld started.");
    } else {
      host.AddStatusLine("Failed to start quorveld.");
      outcome = RunOutcome::Failed;
    }
  }
  return outcome;
}

}  // namespace

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
  StopRunningService(host, options, target);

  bool written = false;
  switch (PlanRun(host, options, target)) {
    case Plan::NothingToDo:
      return RunOutcome::NothingDone;
    case Plan::Update:
      host.AddStatusLine("File to replace: " + target);
      ShowVersion(host, "Version of file to be replaced: ", target);
      written = UpdateProgram(host, target);
      break;
    case Plan::Install:
      written = InstallAll(host, target);
      break;
  }
  if (!written) {
    host.AddStatusLine("Update failed.");
    return RunOutcome::Failed;
  }
  return FinishRun(host, options, target);
}

}  // namespace quorvel::updater
