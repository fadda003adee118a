#pragma once
// The site's health: gathered from the settings, the cache and the log, judged against
// thresholds in hours, and written as a monitoring plugin's text, as one JSON object or as
// metrics for a scraper.
#include <map>
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
  std::string programPath;       // the installed quorveld.exe
  std::string programVersion;    // its product version (1.0.4.1), empty when none was read
};

struct SiteStatus {
  std::string unknownReason;  // set when the settings or files cannot be read
  bool serviceRunning = false;
  std::string programPath, programVersion;
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
  std::string problems;  // ", "-separated, empty when all is well
  // Seconds since the last delivery; when the part of the log read holds none, since its
  // first time.
  std::optional<CalendarTime> uploadAge;
  bool uploadJudged = false;  // records wait
  // The stalest of the boxes and the ports judged: seconds since that box's last download,
  // or, with fewer boxes downloading than ports selected, since the first time read.
  std::optional<CalendarTime> downloadAge;
  bool downloadJudged = false;                  // ports are selected
  std::map<std::string, CalendarTime> boxAges;  // by serial: since its last download, as above
  std::map<int, CalendarTime> portAges;  // by port index: since its last download, when known
  int portsWithoutDownload = 0;          // within the threshold passed, when one was
};

Judgement Judge(const SiteStatus& status);
// Adds a problem found outside the judgement; the verdict becomes at least `severity`.
void AddProblem(Judgement& judgement, Verdict severity, const std::string& text);

// The summary line and the details, each line ending with a line feed.
std::string StatusText(const SiteStatus& status, const Judgement& judgement, const Clock& clock);
std::string StatusJson(const SiteStatus& status, const Judgement& judgement, const Clock& clock);
// The same facts in the text exposition format of a metrics scraper, one file's content.
std::string StatusMetrics(const SiteStatus& status, const Judgement& judgement, const Clock& clock);

// The selected ports' indices, ascending.
std::vector<int> SelectedPorts(const Settings& settings);

}  // namespace quorvel
