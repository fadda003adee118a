#include <algorithm>
#include <cstdio>

#include "status/status_check.h"

namespace quorvel {
namespace {

// A label value with the characters the format escapes escaped.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// The metrics of one file, each family with its HELP and TYPE lines once.
class Exposition {
 public:
  Exposition& Family(const char* name, const char* help) {
    family_ = name;
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    return *this;
  }
  Exposition& Value(std::int64_t value, const std::string& labels = "") {
    text_ +=
        family_ + (labels.empty() ? "" : "{" + labels + "}") + " " + std::to_string(value) + "\n";
    return *this;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string family_;
  std::string text_;
};

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + LabelValue(value) + "\"";
}

std::string PortLabel(int index) {
  return Label("port", "COM" + std::to_string(index + 1));
}

// Local midnight of a cache day as calendar time, as the service dates an upload's day.
CalendarTime DayStart(std::uint32_t yyyymmdd, const Clock& clock) {
  std::tm local{};
  local.tm_year = static_cast<int>(yyyymmdd / 10000) - 1900;
  local.tm_mon = static_cast<int>(yyyymmdd / 100 % 100) - 1;
  local.tm_mday = static_cast<int>(yyyymmdd % 100);
  local.tm_isdst = -1;
  return clock.FromLocal(local);
}

// The port whose last download was this box's, when the polls tell it.
std::string BoxPort(const LogFacts& log, const std::string& serial) {
  for (const auto& [port, facts] : log.ports)
    if (facts.serial == serial) return "COM" + std::to_string(port + 1);
  return "";
}

}  // namespace

std::string StatusMetrics(const SiteStatus& s, const Judgement& j, const Clock& clock) {
  Exposition m;
  m.Family("quorvel_up", "1 when the site's verdict is OK, 0 otherwise.")
      .Value(j.verdict == Verdict::Ok ? 1 : 0);
  m.Family("quorvel_verdict",
           "The health check's exit code: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.")
      .Value(static_cast<int>(j.verdict));
  if (!s.programVersion.empty())
    m.Family("quorvel_build_info", "The installed quorveld.exe's version, as a label.")
        .Value(1, Label("version", s.programVersion));
  if (!s.unknownReason.empty()) return m.Text();

  m.Family("quorvel_service_running", "1 when quorveld runs.").Value(s.serviceRunning ? 1 : 0);
  const std::vector<int> ports = SelectedPorts(s.settings);
  m.Family("quorvel_port_selected", "1 for each port the service polls.");
  for (int port : ports) m.Value(1, PortLabel(port));
  m.Family("quorvel_ports_without_download",
           "Selected ports without a completed download within the threshold passed.")
      .Value(j.portsWithoutDownload);

  m.Family("quorvel_records_waiting", "Count records in the cache waiting for upload.")
      .Value(s.cache.records);
  m.Family("quorvel_box_records_waiting", "Count records waiting, by box.");
  for (const auto& [serial, box] : s.cache.boxes) m.Value(box.records, Label("serial", serial));
  if (!s.cache.boxes.empty()) {
    std::uint32_t oldest = *s.cache.boxes.begin()->second.days.begin();
    m.Family("quorvel_box_oldest_waiting_day_timestamp_seconds",
             "Local midnight starting the oldest day waiting, by box.");
    for (const auto& [serial, box] : s.cache.boxes) {
      oldest = std::min(oldest, *box.days.begin());
      m.Value(DayStart(*box.days.begin(), clock), Label("serial", serial));
    }
    m.Family("quorvel_oldest_waiting_day_timestamp_seconds",
             "Local midnight starting the oldest day waiting.")
        .Value(DayStart(oldest, clock));
  }

  if (j.uploadAge)
    m.Family("quorvel_last_delivery_age_seconds",
             "Seconds since the server last took a batch (answered 200); with none in the log "
             "read, since its first time.")
        .Value(*j.uploadAge);
  m.Family("quorvel_undelivered_uploads",
           "Uploads refused or answered 201 since the last delivery.")
      .Value(s.log.undeliveredSince);
  if (!j.boxAges.empty()) {
    m.Family("quorvel_box_last_download_age_seconds",
             "Seconds since each box's last completed download; with none in the log read, "
             "since its first time.");
    for (const auto& [serial, age] : j.boxAges)
      m.Value(age, Label("serial", serial) + "," + Label("port", BoxPort(s.log, serial)));
  }
  if (!j.portAges.empty()) {
    m.Family("quorvel_port_last_download_age_seconds",
             "Seconds since the last completed download on each port the polls tell.");
    for (const auto& [port, age] : j.portAges) m.Value(age, PortLabel(port));
  }
  m.Family("quorvel_log_bytes", "Size of quorveld.log.").Value(s.log.size);
  m.Family("quorvel_cache_bytes", "Size of quorveld.dat.").Value(s.cache.size);
  return m.Text();
}

}  // namespace quorvel
