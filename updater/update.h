#pragma once
// The update run: check the payloads, stop the service, find or choose the installed program,
// write the new files and register the program to start at logon.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "updater/payload.h"
#include "updater/status_lines.h"

namespace quorvel::updater {

inline constexpr char kDefaultTargetPath[] = "C:\\quorvl\\quorveld.exe";

// The installation's entry in the system's list of installed programs.
struct UninstallEntry {
  std::string displayName;
  std::string displayVersion;  // "1.0.4.1"; "" when the program has no version information
  std::string publisher;
  std::string installLocation;  // the program's folder, without a trailing backslash
  std::string displayIcon;
  std::uint32_t estimatedSizeKb = 0;
  std::string uninstallString;
  std::string quietUninstallString;
};

enum class StartResult {
  Running,        // seen running (its mutex or window) within a few seconds
  Failed,         // could not be started, or not seen running in time
  LeftToAutorun,  // nobody is logged on; the autorun value starts it at the next log-on
};

// Everything a run uses; the updater's window, or the unattended run, provides it.
class UpdateHost : public StatusLines {
 public:
  virtual std::uint32_t ComputePayloadCrc(int id) = 0;
  virtual std::uint32_t ReadStoredCrc(int id) = 0;
  virtual bool IsServiceRunning() = 0;
  virtual bool StopService(std::string& targetPath) = 0;
  virtual bool FileIsPresent(const std::string& path) = 0;
  // Appends what it finds to FoundList().
  virtual void SearchForServiceProgram() = 0;
  virtual std::deque<std::string>& FoundList() = 0;
  // Lets the user choose among FoundList(), leaving the choice alone in it; true when the
  // chooser ended with OK.
  virtual bool SelectFile() = 0;
  // Offers a fresh installation; true for Yes.
  virtual bool AskToInstall() = 0;
  // Product version halves of a program file; false when it has no version information.
  virtual bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                                 std::uint32_t& leastSignificant) = 0;
  // Writes `files` beside (and as) the target all or nothing (see WritePayloadSet).
  virtual bool WritePayloadSet(const std::string& target,
                               const std::vector<PayloadFile>& files) = 0;
  // True when the target is the program carried, with both libraries of its word size beside it.
  virtual bool InstallationIsComplete(const std::string& target) = 0;
  // True when the file at `path` is a copy in an unpacked release (beside kReleaseMarkerName),
  // which is never taken for an installation.
  virtual bool IsReleaseCopy(const std::string& path) = 0;
  // True when `fileName` beside `target` is built for the same word size as payload `id`;
  // false when it is missing or built for another.
  virtual bool LibraryMatchesPayload(const std::string& target, const char* fileName, int id) = 0;
  // Sets the autorun value to `path`; false when the key cannot be opened or the value set.
  virtual bool SetAutorun(const std::string& path) = 0;
  // The program path the autorun value holds; "" when there is none.
  virtual std::string ReadAutorun() = 0;
  // Starts the service program at `path` in the logged-on user's session.
  virtual StartResult StartProgramAt(const std::string& path) = 0;
  // Puts a copy of the running updater at `path`, whole or not at all; true (and nothing done)
  // when the updater runs from that very file.
  virtual bool InstallUninstaller(const std::string& path) = 0;
  // Writes the entry in the updater's registry view (and removes one from the other view).
  virtual bool WriteUninstallEntry(const UninstallEntry& entry) = 0;
  // Size in bytes of the file at `path`; 0 when it is missing.
  virtual std::uint64_t FileSize(const std::string& path) = 0;
  // The company name in the version information of the program at `path`; "" when it has none.
  virtual std::string GetCompanyName(const std::string& path) = 0;
};

// What the command line asks of a run; the defaults are the plain interactive run.
struct RunOptions {
  // The program path to update or install; "" searches as usual.
  std::string target;
  // Nobody to ask: no copy found installs at the default path, several copies take the one
  // the autorun value names or stop.
  bool unattended = false;
  // Start the service from the target path after a successful run.
  bool startService = false;
  // Remove the installation instead (RunUninstall).
  bool uninstall = false;
};

// How a run ended; the values are the updater's exit codes.
enum class RunOutcome {
  Done = 0,
  Failed = 1,       // a write, the autorun value or a start failed
  Corrupt = 2,      // a payload failed its check; nothing was touched
  NothingDone = 3,  // several copies and no choice, the installation declined, or nothing
                    // installed to remove
};

// The file an unpacked release has beside its own copies of the program and libraries.
inline constexpr char kReleaseMarkerName[] = "quorvel-release.txt";

// The autorun value's data for the program at `path`: quoted when the path holds a blank, so
// that the system cannot take a leading part of it for the program.
std::string AutorunData(const std::string& path);

// Windows paths compare in any letter case.
bool SameWindowsPath(const std::string& a, const std::string& b);

// The text without the double quotes around it, if it has them: other tools, and ours for a
// path with a blank, write the autorun value quoted.
std::string Unquoted(const std::string& text);

// "1.0.4.1" style, from the two halves of a version.
std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

RunOutcome RunUpdate(UpdateHost& host, const RunOptions& options = {});

}  // namespace quorvel::updater
