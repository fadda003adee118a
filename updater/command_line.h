#pragma once
// The updater's command line, for remote-management tools that install software on many PCs
// at once. Without arguments the updater is the interactive program it always was.
#include <string>
#include <vector>

#include "updater/update.h"

namespace quorvel::updater {

// Exit code for a command line the updater does not understand; nothing has been touched.
inline constexpr int kBadArgumentsExitCode = 4;

struct UpdaterArguments {
  bool quiet = false;   // /quiet: no window, no questions
  bool start = false;   // /start: start the service after a successful run
  bool uninstall = false;  // /uninstall: remove the installation (never with /start)
  std::string target;   // /target=PATH
  std::string logFile;  // /log=FILE: every status line, with date and time, appended
  // The first unknown or malformed argument, as given (an empty one as two quotes); "" when
  // every argument is good. The good switches are read all the same.
  std::string badSwitch;
};

// Splits a command line into arguments: blanks and tabs separate them, double quotes group
// blanks into one and are dropped. A backslash is an ordinary character, so a quoted folder
// such as "C:\Program Files\" keeps its last backslash.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Reads the arguments that follow the program name. Switch names match in any letter case.
// /target needs a full path (drive or network share) and /log a file name; a value switch
// given twice is malformed, a plain switch given twice counts once.
UpdaterArguments ParseArguments(const std::vector<std::string>& arguments);

RunOptions RunOptionsFrom(const UpdaterArguments& arguments);

// The message box text for a bad argument.
std::string BadSwitchMessage(const std::string& badSwitch);

struct LocalTime {
  int year, month, day, hour, minute, second;
};

// One line of the /log file: "2026-12-07 13:05:09 Update successful." with CR LF.
std::string FormatLogLine(const LocalTime& at, const std::string& statusLine);

}  // namespace quorvel::updater
