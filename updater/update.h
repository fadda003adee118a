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
};

// How a run ended; the values are the updater's exit codes.
enum class RunOutcome {
  Done = 0,
  Failed = 1,       // a write, the autorun value or a start failed
  Corrupt = 2,      // a payload failed its check; nothing was touched
  NothingDone = 3,  // several copies and no choice, or the installation declined
};

// The file an unpacked release has beside its own copies of the program and libraries.
inline constexpr char kReleaseMarkerName[] = "quorvel-release.txt";

// The autorun value's data for the program at `path`: quoted when the path holds a blank, so
// that the system cannot take a leading part of it for the program.
std::string AutorunData(const std::string& path);

// "1.0.4.1" style, from the two halves of a version.
std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

RunOutcome RunUpdate(UpdateHost& host, const RunOptions& options = {});

}  // namespace quorvel::updater
