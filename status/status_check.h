#pragma once
// The site's health: gathered from the settings, the cache and the log, judged against
// thresholds in hours, and written as a monitoring plugin's text or as one JSON object.
#include <string>

#include "service/platform/clock.h"
#include "service/platform/profile_store.h"
#include "service/settings/settings.h"
#include "status/cache_scan.h"
#include "status/log_scan.h"
#include "status/status_files.h"
#include "status/status_options.h"

namespace quorvel {

// The plugin convention's exit codes.
enum class Verdict { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

// What the program found around it.
struct Surroundings {
  ProfileStore& profiles;
  StatusFiles& files;
  const Clock& clock;
  bool serviceRunning = false;
  std::string windowsIniPath;    // quorveld.INI in the Windows folder, as a full path
  std::string programDirectory;  // the default storage folder, as quorveld's own folder
};

struct SiteStatus {
  std::string unknownReason;  // set when the settings or files cannot be read
  bool serviceRunning = false;
  std::string iniPath;
  bool iniFound = false;
  Settings settings;
  std::string folder;
  std::string cachePath, logPath;
  CacheFacts cache;
  LogFacts log;
  CalendarTime now = 0;
  double warnHours = 6, critHours = 48;
};

SiteStatus GatherStatus(const StatusOptions& options, Surroundings& around);

struct Judgement {
  Verdict verdict = Verdict::Ok;
  std::string problems;                     // ", "-separated, empty when all is well
  std::optional<CalendarTime> uploadAge;    // seconds since the last accepted upload
  std::optional<CalendarTime> downloadAge;  // seconds since the last completed download
};

Judgement Judge(const SiteStatus& status);

// The summary line and the details, each line ending with a line feed.
std::string StatusText(const SiteStatus& status, const Judgement& judgement, const Clock& clock);
std::string StatusJson(const SiteStatus& status, const Judgement& judgement, const Clock& clock);

}  // namespace quorvel
