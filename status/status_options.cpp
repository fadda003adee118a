#include "status/status_options.h"

#include <cmath>
#include <cstdlib>

namespace quorvel {
namespace {

bool ReadHours(const std::string& text, double& hours) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || value <= 0 || value > 1e6) return false;
  hours = value;
  return true;
}

}  // namespace

const char* const kStatusUsage =
    "Usage: quorvel-status [--ini PATH] [--dir FOLDER] [--warn-hours H] [--crit-hours H] [--json]\n"
    "                      [--prom FILE]\n"
    "Tells whether quorveld runs and delivers counts. Exit code: 0 OK, 1 WARNING, 2 CRITICAL,\n"
    "3 UNKNOWN. Hours may have fractions (default: warning 6, critical 48).\n"
    "  --ini PATH       settings file (default: quorveld.INI in the Windows folder)\n"
    "  --dir FOLDER     storage folder with quorveld.log and quorveld.dat (default: LocalDir)\n"
    "  --warn-hours H   WARNING when no upload or download succeeded for H hours\n"
    "  --crit-hours H   CRITICAL after H hours\n"
    "  --json           one JSON object instead of text\n"
    "  --prom FILE      also write the facts as metrics for a text-file collector (FILE.tmp is\n"
    "                   written, then renamed to FILE)\n";

bool ParseStatusOptions(const std::vector<std::string>& args, StatusOptions& options,
                        std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    const auto equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    const bool takesValue = name == "--ini" || name == "--dir" || name == "--warn-hours" ||
                            name == "--crit-hours" || name == "--prom";
    if (takesValue && !value) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!takesValue && value) {
      error = name + " takes no value";
      return false;
    }
    if (name == "--ini" || name == "--dir" || name == "--prom") {
      if (value->empty()) {
        error = name + " needs a value";
        return false;
      }
      (name == "--ini" ? options.ini : name == "--dir" ? options.dir : options.prom) = *value;
    } else if (name == "--warn-hours" || name == "--crit-hours") {
      if (!ReadHours(*value, name == "--warn-hours" ? options.warnHours : options.critHours)) {
        error = name + " needs a positive number of hours, not '" + *value + "'";
        return false;
      }
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--help" || name == "-h" || name == "/?") {
      options.help = true;
    } else {
      error = "unknown argument '" + args[i] + "'";
      return false;
    }
  }
  if (options.warnHours > options.critHours) {
    error = "--warn-hours is more than --crit-hours";
    return false;
  }
  return true;
}

}  // namespace quorvel
