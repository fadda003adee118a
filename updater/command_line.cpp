#include "updater/command_line.h"

#include <cctype>
#include <cstdio>

namespace quorvel::updater {
namespace {

std::string Lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "C:\..." or "\\server\share\...", naming a file rather than a folder. A relative path would
// land wherever the management tool happens to run us, and the autorun value could not find it.
bool IsFullFilePath(const std::string& path) {
  const bool onDrive = path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool onShare = path.size() > 2 && path.compare(0, 2, "\\\\") == 0;
  const char last = path.empty() ? '\0' : path.back();
  return (onDrive || onShare) && last != '\\' && last != '/';
}

// Stores a switch's value; false when it is missing, unfit or given a second time.
bool TakeValue(std::string& slot, const std::string& value, bool fit) {
  if (!slot.empty() || value.empty() || !fit) return false;
  slot = value;
  return true;
}

bool ApplySwitch(UpdaterArguments& parsed, const std::string& argument) {
  if (argument.empty() || argument[0] != '/') return false;
  const std::size_t equals = argument.find('=');
  const std::string name =
      Lowered(argument.substr(1, equals == std::string::npos ? equals : equals - 1));
  const bool hasValue = equals != std::string::npos;
  const std::string value = hasValue ? argument.substr(equals + 1) : "";
  if (name == "quiet" && !hasValue) {
    parsed.quiet = true;
    return true;
  }
  if (name == "start" && !hasValue) {
    parsed.start = true;
    return true;
  }
  if (name == "uninstall" && !hasValue) {
    parsed.uninstall = true;
    return true;
  }
  if (name == "target" && hasValue) return TakeValue(parsed.target, value, IsFullFilePath(value));
  if (name == "log" && hasValue) return TakeValue(parsed.logFile, value, true);
  return false;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (const char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

UpdaterArguments ParseArguments(const std::vector<std::string>& arguments) {
  UpdaterArguments parsed;
  // Read on past a bad argument: a /quiet after it must still keep the message box away.
  for (const std::string& argument : arguments) {
    if (!ApplySwitch(parsed, argument) && parsed.badSwitch.empty()) {
      parsed.badSwitch = argument.empty() ? "\"\"" : argument;
    }
  }
  // An uninstall starts nothing.
  if (parsed.uninstall && parsed.start && parsed.badSwitch.empty()) parsed.badSwitch = "/start";
  return parsed;
}

RunOptions RunOptionsFrom(const UpdaterArguments& arguments) {
  RunOptions options;
  options.target = arguments.target;
  options.unattended = arguments.quiet;
  options.startService = arguments.start;
  options.uninstall = arguments.uninstall;
  return options;
}

std::string BadSwitchMessage(const std::string& badSwitch) {
  return "Unknown or malformed switch: " + badSwitch +
         "\r\n\r\nSwitches: /quiet /target=PATH /log=FILE /start /uninstall";
}

std::string FormatLogLine(const LocalTime& at, const std::string& statusLine) {
  char stamp[40];
  std::snprintf(stamp, sizeof(stamp), "%04d-%02d-%02d %02d:%02d:%02d ", at.year, at.month, at.day,
                at.hour, at.minute, at.second);
  return stamp + statusLine + "\r\n";
}

}  // namespace quorvel::updater
