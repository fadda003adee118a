#include "status/status_check.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>

namespace quorvel {
namespace {

const char* const kVerdictNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
// Log times ahead of the clock by more than this mean the clock was set back. The log's times
// are local: around the autumn's change of daylight saving time they may run an hour ahead.
constexpr CalendarTime kClockSlack = 70 * 60;

// quorveld.INI read from another path: the store is asked for that file instead.
class ProfileAt : public ProfileStore {
 public:
  ProfileAt(ProfileStore& store, std::string path) : store_(store), path_(std::move(path)) {}
  int GetInt(const std::string& file, const std::string& section, const std::string& key,
             int fallback) override {
    return store_.GetInt(Mapped(file), section, key, fallback);
  }
  std::string GetString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& fallback, std::size_t capacity) override {
    return store_.GetString(Mapped(file), section, key, fallback, capacity);
  }
  bool WriteString(const std::string&, const std::string&, const std::string&,
                   const std::string&) override {
    return false;  // this program never writes
  }

 private:
  std::string Mapped(const std::string& file) const { return file == kSettingsFile ? path_ : file; }
  ProfileStore& store_;
  std::string path_;
};

std::string Join(const std::string& folder, const char* name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

// A known fault outweighs not knowing: CRITICAL over UNKNOWN over WARNING.
int Weight(Verdict v) {
  switch (v) {
    case Verdict::Ok:
      return 0;
    case Verdict::Warning:
      return 1;
    case Verdict::Unknown:
      return 2;
    case Verdict::Critical:
      break;
  }
  return 3;
}

void Problem(Judgement& j, Verdict severity, const std::string& text) {
  if (!j.problems.empty()) j.problems += ", ";
  j.problems += text;
  if (Weight(severity) > Weight(j.verdict)) j.verdict = severity;
}

std::string Age(CalendarTime seconds) {
  if (seconds < 0) seconds = 0;
  char text[32];
  if (seconds < 120) {
    std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(seconds));
  } else if (seconds < 120 * 60) {
    std::snprintf(text, sizeof text, "%lld min", static_cast<long long>(seconds / 60));
  } else if (seconds < 72 * 3600) {
    std::snprintf(text, sizeof text, "%.1f h", static_cast<double>(seconds) / 3600);
  } else {
    std::snprintf(text, sizeof text, "%.1f d", static_cast<double>(seconds) / 86400);
  }
  return text;
}

std::string LocalText(CalendarTime t, const Clock& clock) {
  const std::tm local = clock.ToLocal(t);
  char text[40];
  if (std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local) == 0) return "?";
  return text;
}

std::string DayText(std::uint32_t yyyymmdd) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u", yyyymmdd / 10000, yyyymmdd / 100 % 100,
                yyyymmdd % 100);
  return text;
}

std::string PortName(int index) {
  return "COM" + std::to_string(index + 1);
}

std::string PortNames(const std::vector<int>& ports) {
  std::string names;
  for (int port : ports) names += (names.empty() ? "" : " ") + PortName(port);
  return names;
}

const char* ResultText(UploadResult r) {
  switch (r) {
    case UploadResult::Accepted:
      return "accepted";
    case UploadResult::Refused:
      return "failed";
    case UploadResult::NothingToSend:
      return "nothing to send";
    case UploadResult::CleanedUp:
      return "damaged cache line dropped";
    case UploadResult::NoResult:
      break;
  }
  return "no result logged";
}

const char* ClearedText(Cleared c) {
  switch (c) {
    case Cleared::Yes:
      return "unit cleared";
    case Cleared::No:
      return "unit not cleared";
    case Cleared::Unknown:
      break;
  }
  return "clearing not confirmed";
}

const char* OutcomeText(OpenOutcome o) {
  switch (o) {
    case OpenOutcome::Opened:
      return "read";
    case OpenOutcome::Missing:
      return "missing";
    case OpenOutcome::Unreadable:
      break;
  }
  return "unreadable";
}

bool OpenFailed(OpenedFile& opened, const std::string& path, std::string& reason) {
  if (opened.outcome != OpenOutcome::Unreadable) return false;
  reason = "cannot read " + path;
  return true;
}

// JSON text with every byte outside printable ASCII escaped, so any log content stays valid.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// A JSON object built member by member.
class JsonObject {
 public:
  JsonObject& Raw(const char* name, const std::string& json) {
    text_ += (text_.empty() ? "{" : ",") + Quoted(name) + ":" + json;
    return *this;
  }
  JsonObject& Text(const char* name, const std::string& value) { return Raw(name, Quoted(value)); }
  JsonObject& Number(const char* name, std::int64_t value) {
    return Raw(name, std::to_string(value));
  }
  JsonObject& Decimal(const char* name, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return Raw(name, text);
  }
  JsonObject& Flag(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
  JsonObject& Time(const char* name, std::optional<CalendarTime> t, const Clock& clock) {
    return Raw(name, t ? Quoted(LocalText(*t, clock)) : "null");
  }
  std::string Done() const { return text_.empty() ? "{}" : text_ + "}"; }

 private:
  std::string text_;
};

std::string AttemptJson(const std::optional<UploadAttempt>& a, const Clock& clock) {
  if (!a) return "null";
  JsonObject o;
  o.Time("time", a->at, clock).Text("result", ResultText(a->result));
  if (a->result == UploadResult::Accepted || a->result == UploadResult::Refused)
    o.Number("response", a->response);
  if (!a->serial.empty()) o.Text("serial", a->serial);
  if (!a->day.empty()) o.Text("day", a->day);
  o.Flag("scrambled", a->scrambled);
  return o.Done();
}

std::string FailuresJson(const Failures& f, const Clock& clock) {
  JsonObject o;
  o.Number("count", f.count);
  if (f.count > 0) o.Text("last", f.last).Time("last_time", f.lastAt, clock);
  return o.Done();
}

std::string AttemptText(const UploadAttempt& a, const Clock& clock) {
  std::string text = LocalText(a.at, clock);
  if (!a.serial.empty()) text += ", box " + a.serial;
  if (!a.day.empty()) text += ", day " + a.day;
  if (a.scrambled) text += ", scrambled request";
  text += std::string(", ") + ResultText(a.result);
  if (a.result == UploadResult::Accepted || a.result == UploadResult::Refused)
    text += " (server response " + std::to_string(a.response) + ")";
  if (a.result == UploadResult::Accepted && a.response != 200) text += ", nothing trimmed";
  return text;
}

std::string FailuresText(const Failures& f, const Clock& clock) {
  return std::to_string(f.count) + (f.count == 1 ? " failure" : " failures") +
         (f.count > 0 ? " (last: " + f.last + " at " + LocalText(f.lastAt, clock) + ")" : "");
}

std::string PerfData(const SiteStatus& s, const Judgement& j) {
  const std::string thresholds = std::to_string(static_cast<long long>(s.warnHours * 3600)) + ";" +
                                 std::to_string(static_cast<long long>(s.critHours * 3600)) + ";";
  std::string perf = "waiting=" + std::to_string(s.cache.records) +
                     ";;; box_days=" + std::to_string(s.cache.BoxDayCount()) + ";;;";
  if (j.uploadAge)
    perf += " upload_age_s=" + std::to_string(*j.uploadAge) + ";" +
            (j.uploadJudged ? thresholds : ";;");
  if (j.downloadAge)
    perf += " download_age_s=" + std::to_string(*j.downloadAge) + ";" +
            (j.downloadJudged ? thresholds : ";;");
  perf += " failed_uploads=" + std::to_string(s.log.undeliveredSince) + ";;;";
  perf += " log_bytes=" + std::to_string(s.log.size) +
          "B;;; cache_bytes=" + std::to_string(s.cache.size) + "B;;;";
  return perf;
}

// The service trims the cache by replacing it, and the platform refuses to replace a file
// that anyone holds open, even with every sharing mode: a trim that fails sends its batch
// again. So the cache is copied in as few reads as possible and let go before it is
// looked at; only a cache beyond the copy limit is read in place, piece by piece.
CacheFacts ReadCache(std::unique_ptr<SharedFile> file) {
  constexpr std::int64_t kCopyLimit = 256 * 1024 * 1024;
  if (file->Size() > kCopyLimit) return ScanCache(*file);
  std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const std::size_t n =
        file->ReadAt(static_cast<std::int64_t>(got), &bytes[got], bytes.size() - got);
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  file.reset();
  TextFile copy(std::move(bytes));
  return ScanCache(copy);
}

}  // namespace

SiteStatus GatherStatus(const StatusOptions& options, Surroundings& around) {
  SiteStatus s;
  s.now = around.clock.Now();
  s.warnHours = options.warnHours;
  s.critHours = options.critHours;
  s.serviceRunning = around.serviceRunning;
  s.programPath = around.programPath;
  s.programVersion = around.programVersion;
  s.iniPath = options.ini.value_or(around.windowsIniPath);

  OpenedFile ini = around.files.OpenShared(s.iniPath);
  s.iniFound = ini.outcome == OpenOutcome::Opened;
  if (OpenFailed(ini, s.iniPath, s.unknownReason)) return s;
  if (options.ini && !s.iniFound) {
    s.unknownReason = "settings file " + s.iniPath + " not found";
    return s;
  }
  ini.file.reset();
  // A copy beside the file means a save was cut off: the file may be empty or torn, and the
  // service puts the copy back at its next start, so the copy holds the settings in force.
  const std::string copy = s.iniPath + kSettingsCopySuffix;
  OpenedFile cutOffSave = around.files.OpenShared(copy);
  const bool readCopy = cutOffSave.outcome == OpenOutcome::Opened;
  cutOffSave.file.reset();
  if (options.ini || readCopy) {
    ProfileAt profiles(around.profiles, readCopy ? copy : s.iniPath);
    s.settings = ReadSettings(profiles, around.programDirectory);
  } else {
    s.settings = ReadSettings(around.profiles, around.programDirectory);
  }

  s.folder = options.dir.value_or(s.settings.LocalDir);
  if (!around.files.IsFolder(s.folder)) {
    s.unknownReason = "storage folder " + s.folder + " not found";
    return s;
  }
  s.cachePath = Join(s.folder, "quorveld.dat");
  s.logPath = Join(s.folder, "quorveld.log");
  OpenedFile cache = around.files.OpenShared(s.cachePath);
  if (OpenFailed(cache, s.cachePath, s.unknownReason)) return s;
  if (cache.file) s.cache = ReadCache(std::move(cache.file));
  OpenedFile log = around.files.OpenShared(s.logPath);
  if (OpenFailed(log, s.logPath, s.unknownReason)) return s;
  if (log.file) {
    LogQuestions questions;
    questions.serials = s.cache.Serials();
    questions.ports = SelectedPorts(s.settings);
    questions.horizon = s.now - static_cast<CalendarTime>(s.critHours * 3600);
    s.log = ScanLog(*log.file, around.clock, questions);
  }
  return s;
}

void AddProblem(Judgement& judgement, Verdict severity, const std::string& text) {
  Problem(judgement, severity, text);
}

std::vector<int> SelectedPorts(const Settings& settings) {
  std::vector<int> ports;
  for (int i = 0; i < kPortCount; ++i)
    if (settings.PortSelected[i]) ports.push_back(i);
  return ports;
}

namespace {

// The thresholds, and the wording of an age that may be longer than the part of the log read.
struct AgeRules {
  CalendarTime warn, crit;
  bool partial;  // the log was not read whole
  Verdict Of(CalendarTime age) const {
    return age > crit ? Verdict::Critical : age > warn ? Verdict::Warning : Verdict::Ok;
  }
  std::string For(CalendarTime age, bool found) const {
    return (found || !partial ? " for " : " for over ") + Age(age);
  }
};

// No log, or one without a single time: nothing tells whether counts move.
bool JudgeWithoutLog(const SiteStatus& s, Judgement& j) {
  std::string why;
  if (s.log.outcome != OpenOutcome::Opened)
    why = "no log at " + s.logPath + (s.settings.Logging ? "" : " (logging is off)");
  else if (!s.log.oldestRead)
    why = "no time in the log " + s.logPath;
  else
    return false;
  if (s.cache.records > 0)
    Problem(j, Verdict::Warning, why + ": nothing tells whether the waiting records move");
  else
    Problem(j, Verdict::Unknown, why);
  return true;
}

void JudgeDelivery(const SiteStatus& s, const AgeRules& rules, Judgement& j) {
  const LogFacts& log = s.log;
  j.uploadAge = s.now - (log.lastDelivery ? log.lastDelivery->at : *log.oldestRead);
  if (s.cache.records == 0) return;
  j.uploadJudged = true;
  const Verdict v = rules.Of(*j.uploadAge);
  if (v == Verdict::Ok) return;
  std::string text = "no upload delivered" + rules.For(*j.uploadAge, log.lastDelivery.has_value());
  if (log.answered201Since > 0)
    text += " (" + std::to_string(log.answered201Since) + " answered 201: nothing trimmed)";
  Problem(j, v, text);
}

// Every box known, and as many boxes as ports are selected, must have downloaded within the
// thresholds. A port is named only when the polls read within the threshold were all matched
// to ports.
void JudgeBoxes(const SiteStatus& s, const AgeRules& rules, Judgement& j) {
  const std::vector<int> ports = SelectedPorts(s.settings);
  if (ports.empty()) return;
  const LogFacts& log = s.log;
  const CalendarTime sinceRead = s.now - *log.oldestRead;
  std::vector<CalendarTime> downloaded;
  for (const auto& [serial, box] : log.boxes) {
    if (!box.lastDownload) continue;
    j.boxAges[serial] = s.now - box.lastDownload->at;
    downloaded.push_back(s.now - box.lastDownload->at);
  }
  for (const auto& [serial, box] : log.boxes)
    if (!box.lastDownload) j.boxAges[serial] = sinceRead;
  for (const auto& serial : s.cache.Serials()) j.boxAges.emplace(serial, sinceRead);
  for (const auto& [serial, age] : j.boxAges) {
    const Verdict v = rules.Of(age);
    const auto box = log.boxes.find(serial);
    const bool found = box != log.boxes.end() && box->second.lastDownload;
    if (v != Verdict::Ok)
      Problem(j, v, "box " + serial + " without a download" + rules.For(age, found));
  }

  std::sort(downloaded.begin(), downloaded.end());
  const CalendarTime slotAge =
      downloaded.size() >= ports.size() ? downloaded[ports.size() - 1] : sinceRead;
  CalendarTime stalest = slotAge;
  for (const auto& [serial, age] : j.boxAges) stalest = std::max(stalest, age);
  j.downloadAge = stalest;
  j.downloadJudged = true;
  for (int port : ports) {
    const auto known = log.ports.find(port);
    if (known != log.ports.end() && known->second.lastDownload)
      j.portAges[port] = s.now - *known->second.lastDownload;
  }

  const Verdict v = rules.Of(slotAge);
  if (v == Verdict::Ok) return;
  const CalendarTime window = v == Verdict::Critical ? rules.crit : rules.warn;
  const auto within = std::count_if(downloaded.begin(), downloaded.end(),
                                    [&](CalendarTime age) { return age <= window; });
  j.portsWithoutDownload = static_cast<int>(ports.size()) - static_cast<int>(within);
  std::vector<int> named;
  if (!log.unmatchedPoll || s.now - *log.unmatchedPoll > window)
    for (int port : ports) {
      const auto age = j.portAges.find(port);
      if (age == j.portAges.end() || age->second > window) named.push_back(port);
    }
  Problem(j, v,
          std::to_string(j.portsWithoutDownload) + " of " + std::to_string(ports.size()) +
              " ports without a download for over " + Age(window) +
              (named.empty() ? "" : " (" + PortNames(named) + ")"));
}

}  // namespace

Judgement Judge(const SiteStatus& s) {
  Judgement j;
  if (!s.unknownReason.empty()) {
    j.verdict = Verdict::Unknown;
    j.problems = s.unknownReason;
    return j;
  }
  if (!s.serviceRunning) Problem(j, Verdict::Critical, "service not running");
  if (JudgeWithoutLog(s, j)) return j;

  const LogFacts& log = s.log;
  if (s.cache.outcome == OpenOutcome::Missing && log.lastAttempt)
    Problem(j, Verdict::Unknown, "no cache at " + s.cachePath + ", though the log shows uploads");
  if (log.newest && *log.newest > s.now + kClockSlack)
    Problem(j, Verdict::Warning,
            "clock set back (the log runs " + Age(*log.newest - s.now) + " ahead)");
  const AgeRules rules{static_cast<CalendarTime>(s.warnHours * 3600),
                       static_cast<CalendarTime>(s.critHours * 3600), !log.readWhole};
  JudgeDelivery(s, rules, j);
  JudgeBoxes(s, rules, j);
  return j;
}

std::string StatusText(const SiteStatus& s, const Judgement& j, const Clock& clock) {
  const char* name = kVerdictNames[static_cast<int>(j.verdict)];
  if (!s.unknownReason.empty()) return std::string("QUORVEL UNKNOWN - ") + j.problems + "\n";

  const std::vector<int> ports = SelectedPorts(s.settings);
  std::set<std::string> serials = s.cache.Serials();
  for (const auto& [serial, box] : s.log.boxes) serials.insert(serial);
  const std::size_t boxes = serials.size();
  std::string text = std::string("QUORVEL ") + name + " - ";
  if (!j.problems.empty()) text += j.problems + "; ";
  text += std::to_string(ports.size()) + (ports.size() == 1 ? " port, " : " ports, ") +
          std::to_string(boxes) + (boxes == 1 ? " box, " : " boxes, ") +
          std::to_string(s.cache.records) + (s.cache.records == 1 ? " record" : " records") +
          " waiting, last delivery ";
  if (s.log.lastDelivery)
    text += Age(s.now - s.log.lastDelivery->at) + " ago";
  else if (!s.log.oldestRead)
    text += "unknown";  // no log, or none with a time
  else if (s.log.readWhole)
    text += "never";
  else
    text += "over " + Age(*j.uploadAge) + " ago";
  if (s.log.budgetSpent)
    text += ", log read back " + std::to_string(s.log.bytesRead / (1024 * 1024)) + " MB only";
  text += " | " + PerfData(s, j) + "\n";

  const auto line = [&](const std::string& l) { text += l + "\n"; };
  std::string service = s.serviceRunning ? "running" : "not running";
  if (s.log.shutdownAt)
    service += ", the log ends with its shutdown at " + LocalText(*s.log.shutdownAt, clock);
  line("Service: " + service);
  line("Program: " + s.programPath + ", version " +
       (s.programVersion.empty() ? "unknown" : s.programVersion));
  const Settings& st = s.settings;
  line("Settings: " + s.iniPath + (s.iniFound ? "" : " (not found: defaults)"));
  line("  server " + st.ServerDomain + ":" + std::to_string(st.ServerPort) +
       (st.IgnoreProxy ? ", proxy ignored" : ", system proxy") +
       (st.Encrypt ? ", scrambled requests" : ""));
  line("  ports " + (ports.empty() ? std::string("none selected") : PortNames(ports)) + ", " +
       std::to_string(st.BoxRate) + " box polls and " + std::to_string(st.UploadRate) +
       " uploads a day, logging " + (st.Logging ? "on" : "off"));
  line("  storage folder " + s.folder);

  line("Cache: " + s.cachePath + ", " + OutcomeText(s.cache.outcome) + ", " +
       std::to_string(s.cache.size) + " bytes: " + std::to_string(s.cache.records) +
       " records waiting, " + std::to_string(s.cache.BoxDayCount()) + " box-days");
  for (const auto& [serial, box] : s.cache.boxes)
    line("  box " + serial + ": " + std::to_string(box.records) + " records, " +
         std::to_string(box.days.size()) + (box.days.size() == 1 ? " day, " : " days, ") +
         DayText(*box.days.begin()) + " to " + DayText(*box.days.rbegin()));
  if (s.cache.notRecords > 0)
    line("  " + std::to_string(s.cache.notRecords) + " lines not whole records (first: line " +
         std::to_string(s.cache.firstNotRecord) + ")");

  const LogFacts& log = s.log;
  line("Log: " + s.logPath + ", " + OutcomeText(log.outcome) + ", " + std::to_string(log.size) +
       " bytes" +
       (log.outcome != OpenOutcome::Opened ? ""
        : log.readWhole                    ? ", read whole"
                        : ", last " + std::to_string(log.bytesRead) + " bytes read" +
                              (log.budgetSpent ? " (the most read at one run)" : "")) +
       (log.oldest ? ", from " + LocalText(*log.oldest, clock) : std::string()));
  const bool wholeLog = log.readWhole || log.outcome != OpenOutcome::Opened;
  const std::string notFound = wholeLog ? "none" : "not in the part read";
  line("  last upload attempt: " +
       (log.lastAttempt ? AttemptText(*log.lastAttempt, clock) : notFound));
  line("  last delivered upload: " +
       (log.lastDelivery ? AttemptText(*log.lastDelivery, clock) + ", " +
                               Age(s.now - log.lastDelivery->at) + " ago"
                         : notFound) +
       "; " + std::to_string(log.undeliveredSince) + " not delivered since" +
       (log.answered201Since > 0
            ? " (" + std::to_string(log.answered201Since) + " answered 201, nothing trimmed)"
            : ""));
  line("  last box poll: " + (log.lastPoll ? LocalText(*log.lastPoll, clock) : notFound));
  for (const auto& [serial, box] : log.boxes) {
    std::string l = "  box " + serial + ": last download ";
    l += box.lastDownload ? LocalText(box.lastDownload->at, clock) + ", " +
                                std::to_string(box.lastDownload->records) + " records, " +
                                ClearedText(box.lastDownload->cleared)
                          : notFound;
    line(l + "; " + FailuresText(box.failuresSince, clock) + " since");
  }
  for (int port : ports) {
    const auto known = log.ports.find(port);
    if (known == log.ports.end()) continue;
    const PortFacts& p = known->second;
    line("  " + PortName(port) + ": last download " +
         (p.lastDownload ? LocalText(*p.lastDownload, clock) + " (box " + p.serial + ")"
                         : notFound) +
         "; last poll " + LocalText(p.lastExchange, clock));
  }
  if (log.unmatchedPoll)
    line("  polls not matched to the selected ports, the last at " +
         LocalText(*log.unmatchedPoll, clock));
  for (const auto& [port, failures] : log.portFailuresSince)
    line("  COM" + std::to_string(port + 1) + ": unable to open, " +
         std::to_string(failures.count) + " times since the last download, last at " +
         LocalText(failures.lastAt, clock));
  if (log.unitFailuresSince.count > 0)
    line("  units without a serial: " + FailuresText(log.unitFailuresSince, clock) +
         " since the last download");
  line("  last clock pass: " +
       (log.lastClockPass ? "after the upload at " + LocalText(log.lastClockPass->at, clock) +
                                ", " + log.lastClockPass->result
                          : notFound));
  if (log.unfinishedLastLine) line("  last line unfinished (being written or cut off)");
  if (log.unreadableLines > 0)
    line("  " + std::to_string(log.unreadableLines) + " lines not of the service's kinds");
  return text;
}

std::string StatusJson(const SiteStatus& s, const Judgement& j, const Clock& clock) {
  JsonObject o;
  o.Text("status", kVerdictNames[static_cast<int>(j.verdict)])
      .Number("exit_code", static_cast<int>(j.verdict))
      .Text("problems", j.problems)
      .Time("now", s.now, clock)
      .Text("program", s.programPath)
      .Raw("version", s.programVersion.empty() ? "null" : Quoted(s.programVersion));
  if (!s.unknownReason.empty()) return o.Done() + "\n";
  o.Flag("service_running", s.serviceRunning)
      .Decimal("warn_hours", s.warnHours)
      .Decimal("crit_hours", s.critHours)
      .Raw("upload_age_s", j.uploadAge ? std::to_string(*j.uploadAge) : "null")
      .Raw("download_age_s", j.downloadAge ? std::to_string(*j.downloadAge) : "null")
      .Number("ports_without_download", j.portsWithoutDownload);

  const Settings& st = s.settings;
  std::string ports = "[";
  for (int i = 0; i < kPortCount; ++i)
    if (st.PortSelected[i])
      ports += (ports.size() > 1 ? "," : "") + Quoted("COM" + std::to_string(i + 1));
  JsonObject settings;
  settings.Text("file", s.iniPath)
      .Flag("file_found", s.iniFound)
      .Text("server", st.ServerDomain)
      .Number("port", st.ServerPort)
      .Flag("ignore_proxy", st.IgnoreProxy != 0)
      .Flag("scrambled", st.Encrypt != 0)
      .Raw("com_ports", ports + "]")
      .Number("box_rate", st.BoxRate)
      .Number("upload_rate", st.UploadRate)
      .Flag("logging", st.Logging != 0)
      .Text("folder", s.folder);
  o.Raw("settings", settings.Done());

  std::string boxes = "[";
  for (const auto& [serial, box] : s.cache.boxes) {
    JsonObject b;
    b.Text("serial", serial)
        .Number("records", box.records)
        .Number("days", static_cast<std::int64_t>(box.days.size()))
        .Text("oldest_day", DayText(*box.days.begin()))
        .Text("newest_day", DayText(*box.days.rbegin()));
    boxes += (boxes.size() > 1 ? "," : "") + b.Done();
  }
  JsonObject cache;
  cache.Text("file", s.cachePath)
      .Text("state", OutcomeText(s.cache.outcome))
      .Number("bytes", s.cache.size)
      .Number("records", s.cache.records)
      .Number("box_days", s.cache.BoxDayCount())
      .Raw("boxes", boxes + "]")
      .Number("not_records", s.cache.notRecords)
      .Number("first_not_record_line", s.cache.firstNotRecord);
  o.Raw("cache", cache.Done());

  const LogFacts& log = s.log;
  std::string logBoxes = "[";
  for (const auto& [serial, box] : log.boxes) {
    JsonObject b;
    b.Text("serial", serial);
    if (box.lastDownload) {
      JsonObject d;
      d.Time("time", box.lastDownload->at, clock)
          .Number("records", box.lastDownload->records)
          .Text("cleared", ClearedText(box.lastDownload->cleared));
      b.Raw("last_download", d.Done());
    } else {
      b.Raw("last_download", "null");
    }
    b.Raw("failures_since", FailuresJson(box.failuresSince, clock));
    logBoxes += (logBoxes.size() > 1 ? "," : "") + b.Done();
  }
  std::string portList = "[";
  for (const auto& [port, failures] : log.portFailuresSince) {
    JsonObject p;
    p.Text("port", PortName(port)).Raw("unable_to_open", FailuresJson(failures, clock));
    portList += (portList.size() > 1 ? "," : "") + p.Done();
  }
  std::string matched = "[";
  for (const auto& [port, facts] : log.ports) {
    JsonObject p;
    p.Text("port", PortName(port)).Time("last_poll", facts.lastExchange, clock);
    if (facts.lastDownload)
      p.Time("last_download", facts.lastDownload, clock).Text("serial", facts.serial);
    matched += (matched.size() > 1 ? "," : "") + p.Done();
  }
  JsonObject l;
  l.Text("file", s.logPath)
      .Text("state", OutcomeText(log.outcome))
      .Number("bytes", log.size)
      .Number("bytes_read", log.bytesRead)
      .Flag("read_whole", log.readWhole)
      .Flag("tail_budget_spent", log.budgetSpent)
      .Time("oldest", log.oldest, clock)
      .Time("oldest_read", log.oldestRead, clock)
      .Time("newest_read", log.newest, clock)
      .Raw("last_upload_attempt", AttemptJson(log.lastAttempt, clock))
      .Raw("last_delivered_upload", AttemptJson(log.lastDelivery, clock))
      .Number("undelivered_uploads_since", log.undeliveredSince)
      .Number("answered_201_since", log.answered201Since)
      .Time("last_box_poll", log.lastPoll, clock)
      .Time("last_download", log.lastDownloadAt, clock)
      .Raw("boxes", logBoxes + "]")
      .Raw("ports", portList + "]")
      .Raw("ports_matched", matched + "]")
      .Time("unmatched_poll", log.unmatchedPoll, clock)
      .Raw("units_without_serial", FailuresJson(log.unitFailuresSince, clock));
  if (log.lastClockPass) {
    JsonObject c;
    c.Time("after_upload_at", log.lastClockPass->at, clock)
        .Text("result", log.lastClockPass->result);
    l.Raw("last_clock_pass", c.Done());
  } else {
    l.Raw("last_clock_pass", "null");
  }
  l.Time("shutdown", log.shutdownAt, clock)
      .Flag("unfinished_last_line", log.unfinishedLastLine)
      .Number("unreadable_lines", log.unreadableLines);
  o.Raw("log", l.Done());
  return o.Done() + "\n";
}

}  // namespace quorvel
