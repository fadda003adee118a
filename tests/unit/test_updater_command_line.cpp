// The updater's switches for unattended runs, and the lines of its log file.
#include <doctest.h>

#include <string>
#include <vector>

#include "updater/command_line.h"

using namespace quorvel::updater;

namespace {

using Arguments = std::vector<std::string>;

UpdaterArguments Parse(const std::string& commandLine) {
  return ParseArguments(SplitCommandLine(commandLine));
}

}  // namespace

TEST_CASE("command lines split at blanks, with quotes around blanks") {
  CHECK(SplitCommandLine("") == Arguments{});
  CHECK(SplitCommandLine("  /quiet\t /start  ") == Arguments{"/quiet", "/start"});
  SUBCASE("paths with spaces, quoted whole or after the equals sign") {
    CHECK(SplitCommandLine("\"/target=C:\\Program Files\\q\\quorveld.exe\" /quiet") ==
          Arguments{"/target=C:\\Program Files\\q\\quorveld.exe", "/quiet"});
    CHECK(SplitCommandLine("/log=\"C:\\My Logs\\update.log\"") ==
          Arguments{"/log=C:\\My Logs\\update.log"});
  }
  SUBCASE("the program name, quoted, comes first; a backslash before a quote is kept") {
    CHECK(SplitCommandLine("\"C:\\tools dir\\updater.exe\" /quiet") ==
          Arguments{"C:\\tools dir\\updater.exe", "/quiet"});
    CHECK(SplitCommandLine("/log=\"C:\\a b\\\"x.log") == Arguments{"/log=C:\\a b\\x.log"});
  }
  SUBCASE("an empty quoted argument is an argument") {
    CHECK(SplitCommandLine("/quiet \"\"") == Arguments{"/quiet", ""});
  }
}

TEST_CASE("the switches of an unattended run") {
  SUBCASE("none is the interactive run") {
    const UpdaterArguments parsed = Parse("");
    CHECK_FALSE(parsed.quiet);
    CHECK_FALSE(parsed.start);
    CHECK(parsed.target.empty());
    CHECK(parsed.logFile.empty());
    CHECK(parsed.badSwitch.empty());
  }
  SUBCASE("all four, in any letter case") {
    const UpdaterArguments parsed =
        Parse("/QUIET /Start \"/target=C:\\Program Files\\q\\quorveld.exe\" /log=C:\\u.log");
    CHECK(parsed.badSwitch.empty());
    const RunOptions options = RunOptionsFrom(parsed);
    CHECK(options.unattended);
    CHECK(options.startService);
    CHECK(options.target == "C:\\Program Files\\q\\quorveld.exe");
    CHECK(parsed.logFile == "C:\\u.log");
  }
  SUBCASE("a plain switch twice counts once") {
    CHECK(Parse("/quiet /quiet /start /start").badSwitch.empty());
  }
  SUBCASE("a network share is a full path") {
    CHECK(Parse("/target=\\\\server\\share\\quorveld.exe").badSwitch.empty());
  }
}

TEST_CASE("an unknown or malformed switch is named") {
  struct Case {
    const char* commandLine;
    const char* named;
  };
  for (const Case& c : {
           Case{"/quiet /silent", "/silent"},
           Case{"/quiet -quiet", "-quiet"},
           Case{"quorveld.exe", "quorveld.exe"},
           Case{"/target=", "/target="},
           Case{"/target", "/target"},
           Case{"/target=quorveld.exe", "/target=quorveld.exe"},
           Case{"/target=C:\\quorvl\\", "/target=C:\\quorvl\\"},
           Case{"/log=", "/log="},
           Case{"/quiet=yes", "/quiet=yes"},
           Case{"/start=now", "/start=now"},
           Case{"/target=C:\\a\\q.exe /target=C:\\b\\q.exe", "/target=C:\\b\\q.exe"},
           Case{"/log=a.log /log=a.log", "/log=a.log"},
           Case{"/quiet \"\"", "\"\""},
       }) {
    CAPTURE(c.commandLine);
    CHECK(Parse(c.commandLine).badSwitch == c.named);
  }
  SUBCASE("a /quiet after a bad switch still counts, so no message box holds up the run") {
    const UpdaterArguments parsed = Parse("/silent /quiet /bogus");
    CHECK(parsed.badSwitch == "/silent");
    CHECK(parsed.quiet);
  }
  CHECK(
      BadSwitchMessage("/silent") ==
      "Unknown or malformed switch: /silent\r\n\r\nSwitches: /quiet /target=PATH /log=FILE /start /uninstall");
}

TEST_CASE("log lines carry date and time") {
  CHECK(FormatLogLine({2026, 3, 7, 9, 5, 1}, "Update successful.") ==
        "2026-03-07 09:05:01 Update successful.\r\n");
}
