// Reads a large log and a large cache as quorvel-status does and prints the times.
//
//   status_read [log-megabytes] [cache-lines]     defaults: 200 MB, 1,000,000 lines
//
// The log repeats a day of a site (hourly polls of every box, an upload every six minutes);
// the cache holds whole box-days. Three log readings: a five-box site that delivers (the
// answers lie near the end), one whose uploads have never been accepted (read back to the
// critical threshold), and the worst layout: one box answering while two ports are selected
// and nothing delivered, which is read back to the tail budget. The files go to a temporary
// folder, removed afterwards. Figures from a sanitizer build are inflated.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "status/cache_scan.h"
#include "status/log_scan.h"

namespace {

using Steady = std::chrono::steady_clock;

// Local time is UTC here.
class UtcClock : public quorvel::Clock {
 public:
  quorvel::CalendarTime Now() const override { return 1169510400 + 86400LL * 400; }
  std::tm ToLocal(quorvel::CalendarTime t) const override {
    const std::time_t value = static_cast<std::time_t>(t);
    std::tm out{};
    gmtime_r(&value, &out);
    return out;
  }
  quorvel::CalendarTime FromLocal(std::tm& local) const override { return timegm(&local); }
  std::uint32_t MillisecondsSinceStart() const override { return 0; }
  void Sleep(std::uint32_t) override {}  // the reader never waits
};

std::string ServicePath(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string ShortTime(int day, int hour, int minute) {
  char text[48];
  std::snprintf(text, sizeof text, "07/%02d/%02d %02d%02d", 1 + day / 28 % 12, 1 + day % 28, hour,
                minute);
  return text;
}

std::string LongTime(int day, int hour, int minute) {
  char text[48];
  std::snprintf(text, sizeof text, "2007/%02d/%02d @ %02d:%02d:09", 1 + day / 28 % 12, 1 + day % 28,
                hour, minute);
  return text;
}

void WriteLog(const std::filesystem::path& file, long long bytes, bool accepted, int boxes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  const std::string sep = ";=============================================\r\n";
  long long written = 0;
  for (int day = 0; written < bytes; ++day) {
    std::string text;
    for (int hour = 0; hour < 24; ++hour) {
      for (int box = 0; box < boxes; ++box) {
        const std::string serial = "0123456789ab0" + std::to_string(box);
        text += sep + ";Download initiated at " + ShortTime(day, hour, 6) + "\r\n;Serial #" +
                serial + "\r\nDownload initiated from " + serial + " v 01\r\n;start " +
                LongTime(day, hour, 6) + "\r\n";
        for (int r = 1; r <= 3; ++r) {
          char record[64];
          std::snprintf(record, sizeof record, "record%5d:%02X 16 01 07 000C 0022 A6\r\n", r, hour);
          text += record;
        }
        text += ";ended " + LongTime(day, hour, 6) +
                "\r\n;clearing data...\r\n;Data successfully cleared.\r\n";
      }
      for (int minute = 0; minute < 60; minute += 6)
        text += sep + ";Upload initiated at " + ShortTime(day, hour, minute) +
                "\r\n; Request /submitr?0123456789ab0020070122M0c22Y0\r\n" +
                (accepted ? ";Upload successful.  Server response 200\r\n"
                          : ";Upload failed.  Server response 0\r\n");
    }
    out << text;
    written += static_cast<long long>(text.size());
  }
}

void WriteCache(const std::filesystem::path& file, long lines) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  char line[64];
  long written = 0;
  for (int day = 0; written < lines; ++day) {
    const int date = 20070101 + (day / 28 % 12) * 100 + day % 28;
    for (int box = 0; box < 50 && written < lines; ++box)
      for (int hour = 0; hour < 24 && written < lines; ++hour, ++written) {
        std::snprintf(line, sizeof line, "0123456789%04x,%08d,%02d,%05d,%05d\n", box, date, hour,
                      hour * 3, hour);
        out << line;
      }
  }
}

double Seconds(Steady::duration d) {
  return std::chrono::duration<double>(d).count();
}

double TimeLog(quorvel::StatusFiles& files, const std::filesystem::path& path, const char* what,
               int ports) {
  UtcClock clock;
  quorvel::OpenedFile opened = files.OpenShared(ServicePath(path.string()));
  if (!opened.file) std::exit(1);
  const auto start = Steady::now();
  quorvel::LogQuestions questions;
  for (int port = 0; port < ports; ++port) questions.ports.push_back(port);
  questions.horizon = clock.Now() - 48 * 3600;
  const quorvel::LogFacts facts = quorvel::ScanLog(*opened.file, clock, questions);
  const double s = Seconds(Steady::now() - start);
  std::printf("log %-40s %7.1f MB: %8.3f s, %7.1f MB read back, %zu boxes%s%s\n", what,
              static_cast<double>(facts.size) / 1e6, s, static_cast<double>(facts.bytesRead) / 1e6,
              facts.boxes.size(), facts.readWhole ? ", read whole" : "",
              facts.budgetSpent ? ", tail budget spent" : "");
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 200;
  const long lines = argc > 2 ? std::atol(argv[2]) : 1000000;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quorvel-status-bench-" + std::to_string(std::time(nullptr)));
  std::filesystem::create_directories(dir);
  const auto files = quorvel::MakeSystemStatusFiles();

  WriteLog(dir / "delivering.log", megabytes * 1000000, true, 5);
  WriteLog(dir / "refused.log", megabytes * 1000000, false, 5);
  WriteLog(dir / "worst.log", megabytes * 1000000, false, 1);
  WriteCache(dir / "quorveld.dat", lines);
  TimeLog(*files, dir / "delivering.log", "(five boxes, uploads accepted)", 5);
  TimeLog(*files, dir / "refused.log", "(five boxes, no upload ever accepted)", 5);
  const double worst = TimeLog(*files, dir / "worst.log", "(one box, two ports, none accepted)", 2);

  quorvel::OpenedFile cache = files->OpenShared(ServicePath((dir / "quorveld.dat").string()));
  if (!cache.file) return 1;
  const auto start = Steady::now();
  const quorvel::CacheFacts facts = quorvel::ScanCache(*cache.file);
  const double s = Seconds(Steady::now() - start);
  std::printf("cache %lld lines, %7.1f MB: %8.3f s, %lld box-days, %lld not records\n",
              static_cast<long long>(facts.records + facts.notRecords),
              static_cast<double>(facts.size) / 1e6, s, static_cast<long long>(facts.BoxDayCount()),
              static_cast<long long>(facts.notRecords));
  std::printf("worst layout, log and cache: %.3f s\n", worst + s);
  std::filesystem::remove_all(dir);
  return 0;
}
