#include "updater/update.h"

#include <cstdio>

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

// Looks for an installed copy; true when `target` names one.
bool FindInstalledProgram(UpdateHost& host, std::string& target) {
  if (host.FileIsPresent(target)) return true;
  host.AddStatusLine("Searching for quorveld.exe...");
  host.SearchForServiceProgram();
  std::deque<std::string>& found = host.FoundList();
  if (found.size() == 1) {
    target = found.front();
    return true;
  }
  if (found.size() > 1 && host.SelectFile() && !found.empty()) {
    target = found.front();
    return true;
  }
  return false;
}

bool InstallAll(UpdateHost& host, const std::string& target) {
  bool anyWritten = false;
  for (const Payload& payload : kPayloads) {
    if (host.WritePayloadFile(target, payload.fileName, payload.id)) anyWritten = true;
  }
  return anyWritten;
}

}  // namespace

std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return Format("%lu.%lu.%lu.%lu", static_cast<unsigned long>(mostSignificant >> 16),
                static_cast<unsigned long>(mostSignificant & 0xFFFF),
                static_cast<unsigned long>(leastSignificant >> 16),
                static_cast<unsigned long>(leastSignificant & 0xFFFF));
}

void RunUpdate(UpdateHost& host) {
  std::string target = kDefaultTargetPath;
  host.AddStatusLine("Starting.");
  host.AddStatusLine("Performing internal integrity check.");
  if (!PayloadsAreIntact(host)) {
    host.AddStatusLine("Updater is corrupt.  Terminating update process.");
    return;
  }
  host.AddStatusLine("Update files are intact.");
  if (host.IsServiceRunning()) {
    host.AddStatusLine("quorveld is running.");
    if (!host.StopService(target)) {
      host.AddStatusLine("The program doesn't want to shut down.");
      host.AddStatusLine("Please close quorveld manually and re-run the updater.");
    }
  }

  bool written = false;
  if (FindInstalledProgram(host, target)) {
    host.AddStatusLine("File to replace: " + target);
    ShowVersion(host, "Version of file to be replaced: ", target);
    written = host.WritePayloadFile(target, nullptr, kServicePayload);
  } else {
    if (!host.AskToInstall()) {
      host.AddStatusLine("Aborting.");
      return;
    }
    // The question offers this place, whatever the stop step learnt (possibly nothing).
    target = kDefaultTargetPath;
    written = InstallAll(host, target);
  }
  if (!written) {
    host.AddStatusLine("Update failed.");
    return;
  }
  host.AddStatusLine("Update successful.");
  ShowVersion(host, "Version of new file: ", target);
  host.AddStatusLine(host.SetAutorun(target) ? "Autorun registry key added."
                                             : "Failed to add autorun registry key.");
}

}  // namespace quorvel::updater
