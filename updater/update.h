#pragma once
// The update run: check the payloads, stop the service, find or choose the installed program,
// write the new files and register the program to start at logon.
#include <cstdint>
#include <deque>
#include <string>

#include "updater/status_lines.h"

namespace quorvel::updater {

inline constexpr char kDefaultTargetPath[] = "C:\\quorvl\\quorveld.exe";

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
  virtual bool WritePayloadFile(const std::string& target, const char* fileName, int id) = 0;
  // True when `fileName` beside `target` is built for the same word size as payload `id`;
  // false when it is missing or built for another.
  virtual bool LibraryMatchesPayload(const std::string& target, const char* fileName, int id) = 0;
  // Sets the autorun value to `path`; false when the key cannot be opened or the value set.
  virtual bool SetAutorun(const std::string& path) = 0;
  // The program path the autorun value holds; "" when there is none.
  virtual std::string ReadAutorun() = 0;
  // Starts the service program at `path`; false when it cannot be started.
  virtual bool StartProgramAt(const std::string& path) = 0;
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
  Failed = 1,       // a write, the autorun value or the start failed
  Corrupt = 2,      // a payload failed its check; nothing was touched
  NothingDone = 3,  // several copies and no choice, or the installation declined
};

// "1.0.4.1" style, from the two halves of a version.
std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

RunOutcome RunUpdate(UpdateHost& host, const RunOptions& options = {});

}  // namespace quorvel::updater
