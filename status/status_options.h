#pragma once
// The status program's command line.
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct StatusOptions {
  std::optional<std::string> ini;  // settings file instead of quorveld.INI in the Windows folder
  std::optional<std::string> dir;  // storage folder instead of LocalDir
  double warnHours = 6;
  double critHours = 48;
  std::optional<std::string> prom;  // also write the facts as metrics to this file
  bool json = false;
  bool help = false;
};

// Reads the arguments after the program name; false with the reason in `error` when they
// cannot be taken.
bool ParseStatusOptions(const std::vector<std::string>& args, StatusOptions& options,
                        std::string& error);

extern const char* const kStatusUsage;

}  // namespace quorvel
