#include <doctest.h>

#include <deque>
#include <map>
#include <memory>

#include "service/core/service_window.h"
#include "status/reverse_lines.h"
#include "status/status_check.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::NoOptions;
using testing::QuietHost;
using testing::TempDir;

constexpr const char* kSerial = "0123456789abcd";
constexpr const char* kRecord1 = "0D 16 01 07 000C 0022 A6\r";  // 2007/01/22 13h
constexpr const char* kRecord2 = "0E 16 01 07 0001 0002 D0\r";  // 2007/01/22 14h

// The log's questions: these serials, and boxes on the first `ports` ports.
LogQuestions Asking(const std::set<std::string>& serials, int ports = 0) {
  LogQuestions questions;
  questions.serials = serials;
  for (int port = 0; port < ports; ++port) questions.ports.push_back(port);
  return questions;
}

// A site over fakes: the real scheduler with a box on COM1 that answers from a script, COM2
// that does not open, and the server's replies queued by the test. Its log and cache are
// written by the service's own code into a temporary folder.
struct Site {
  Site() {
    settings.BoxRate = 24;
    settings.UploadRate = 24;
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    settings.ServerDomain = "127.0.0.1";
    settings.ServerPort = 80;
    settings.SynchronizeClocks = 1;
    settings.IgnoreProxy = 1;
    settings.PortSelected[0] = settings.PortSelected[1] = 1;
    fake.comm.openError[1] = 2;
    fake.comm.onWrite = [this](int port, const std::string& bytes) {
      auto& queue = replies[bytes.substr(0, 4)];
      if (queue.empty()) return;
      fake.comm.Feed(port, queue.front());
      queue.pop_front();
    };
    window = std::make_unique<ServiceWindow>(settings, fake.platform, host, options);
  }
  // The box holds these records, then ends its data; clearing succeeds.
  void BoxHolds(std::initializer_list<const char*> records) {
    replies["SSSN"].push_back("0123456789ABCD01\r");
    auto it = records.begin();
    replies["SSDD"].push_back(*it++);
    for (; it != records.end(); ++it) replies["COOL"].push_back(*it);
    replies["COOL"].push_back("COOL\r");
    replies["SSCD"].push_back("COOL\r");
  }
  void ServerAnswers(int status) {
    fake.http.replies.push_back({HttpResponse::Outcome::Received, status, "", true, ""});
  }
  // Moves the clock on a minute at a time, ticking through whatever falls due.
  void Minutes(int minutes) {
    for (int m = 0; m < minutes; ++m) {
      fake.clock.Advance(60);
      for (int t = 0; t < 30; ++t) window->HandleTick();
    }
  }
  std::string Log() const { return dir.Read("quorveld.log"); }
  // Puts `text` in place of the log. The service keeps its log open, and on Windows nobody
  // else may write it meanwhile: the service ends first and starts again after.
  void ReplaceLog(const std::string& text) {
    window.reset();
    dir.Write("quorveld.log", text);
    window = std::make_unique<ServiceWindow>(settings, fake.platform, host, options);
  }
  LogFacts Scan(const std::set<std::string>& serials = {}) const {
    TextFile log(Log());
    return ScanLog(log, fake.clock, Asking(serials));
  }

  TempDir dir;
  FakePlatform fake;
  Settings settings;
  QuietHost host;
  NoOptions options;
  std::map<std::string, std::deque<std::string>> replies;  // by command
  std::unique_ptr<ServiceWindow> window;
};

const CalendarTime kStart = 1169471109;  // the fake clock's start, 2007/01/22 13:05:09

std::vector<std::string> LinesBackwards(const std::string& text) {
  TextFile file(text);
  ReverseLineReader reader(file);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Previous(line)) lines.push_back(reader.cut() ? "<cut>" : std::string(line));
  return lines;
}

}  // namespace

TEST_CASE("lines come back from the end in bounded pieces") {
  SUBCASE("CR LF and LF endings, empty lines, a last line without its end") {
    CHECK(LinesBackwards("a\r\nb\n\nc") == std::vector<std::string>{"c", "", "b", "a"});
    CHECK(LinesBackwards("") == std::vector<std::string>{});
    CHECK(LinesBackwards("\n") == std::vector<std::string>{""});
  }
  SUBCASE("lines running across pieces come whole") {
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
      std::string line(static_cast<std::size_t>(i * 997 % 9000), static_cast<char>('a' + i % 26));
      text += line + "\r\n";
      expected.insert(expected.begin(), line);
    }
    CHECK(LinesBackwards(text) == expected);
  }
  SUBCASE("a line longer than the limit is given as cut, and the lines before it still come") {
    const std::string text =
        "first\n" + std::string(ReverseLineReader::kLongestLine * 3, 'x') + "\nlast\n";
    CHECK(LinesBackwards(text) == std::vector<std::string>{"last", "<cut>", "first"});
  }
}

TEST_CASE("the log reader follows a site's exchanges as the service logs them") {
  Site site;
  site.BoxHolds({kRecord1, kRecord2});
  site.ServerAnswers(200);
  site.Minutes(2);  // at the first minute: the box poll, COM2, then the upload of the box's day

  LogFacts facts = site.Scan();
  REQUIRE(facts.lastPoll);
  CHECK(*facts.lastPoll == kStart - 9 + 60);  // the log's times are whole minutes
  REQUIRE(facts.boxes.count(kSerial) == 1);
  const BoxFacts& box = facts.boxes[kSerial];
  REQUIRE(box.lastDownload);
  CHECK(box.lastDownload->records == 2);
  CHECK(box.lastDownload->cleared == Cleared::Yes);
  CHECK(box.failuresSince.count == 0);
  CHECK(facts.portFailuresSince.at(1).count == 1);  // COM2 did not open
  REQUIRE(facts.lastAttempt);
  CHECK(facts.lastAttempt->result == UploadResult::Accepted);
  CHECK(facts.lastAttempt->response == 200);
  CHECK(facts.lastAttempt->serial == kSerial);
  CHECK(facts.lastAttempt->day == "20070122");
  REQUIRE(facts.lastDelivery);
  CHECK(facts.undeliveredSince == 0);
  CHECK(facts.oldest == facts.lastPoll);
  CHECK(facts.readWhole);  // a log within one piece is read whole
  CHECK(facts.unreadableLines == 0);

  SUBCASE("refused uploads since the last accepted one are counted") {
    site.replies["SSSN"].push_back("0123456789ABCD01\r");
    site.replies["SSDD"].push_back(kRecord1);
    site.replies["COOL"].push_back("COOL\r");
    site.replies["SSCD"].push_back("BUMMER\r");
    site.fake.http.defaultReply = {HttpResponse::Outcome::Received, 500, "", true, ""};
    site.Minutes(120);
    facts = site.Scan();
    CHECK(facts.lastAttempt->result == UploadResult::Refused);
    CHECK(facts.lastAttempt->response == 500);
    CHECK(facts.undeliveredSince >= 3);
    CHECK(facts.lastDelivery->at == kStart - 9 + 60);
    CHECK(facts.boxes[kSerial].lastDownload->cleared == Cleared::No);
    CHECK(facts.boxes[kSerial].lastDownload->records == 1);
  }
  SUBCASE("a box that stops answering: failures since its last download") {
    site.replies["SSSN"].push_back("0123456789ABCD01\r");  // answers the serial, then nothing
    site.Minutes(120);
    facts = site.Scan();
    const BoxFacts& silent = facts.boxes[kSerial];
    CHECK(silent.lastDownload->records == 2);
    CHECK(silent.failuresSince.count == 1);
    CHECK(silent.failuresSince.last == "not responding");
    CHECK(facts.unitFailuresSince.count == 1);  // the second poll: no serial at all
    CHECK(facts.unitFailuresSince.last == "not responding to AutoSerial");
    CHECK(facts.portFailuresSince.at(1).count == 3);
  }
  SUBCASE("a clock pass after an upload") {
    site.window->set_clockSyncPending(true);
    site.replies["SSTS"].push_back("COOL\r");
    site.Minutes(1);
    facts = site.Scan();
    REQUIRE(facts.lastClockPass);
    CHECK(facts.lastClockPass->result == "set");
    CHECK(facts.lastClockPass->at == facts.lastDelivery->at);
  }
  SUBCASE("the shutdown lines count only while the log ends with them") {
    site.window->HandleClose();
    CHECK(site.Scan().shutdownAt);
    site.window =
        std::make_unique<ServiceWindow>(site.settings, site.fake.platform, site.host, site.options);
    site.Minutes(2);
    CHECK_FALSE(site.Scan().shutdownAt);
  }
}

TEST_CASE("the log is read back only as far as needed, and damage is counted, never fatal") {
  Site site;
  site.BoxHolds({kRecord1});
  site.ServerAnswers(200);
  site.Minutes(2);
  const std::string log = site.Log();

  std::string history;
  while (history.size() < 4 * 1024 * 1024) history += ";Upload aborted. Nothing to send.\r\n";

  SUBCASE("a long history before the answers is not read") {
    TextFile file(";Upload initiated at 06/12/01 0900\r\n" + history + log);
    const LogFacts facts = ScanLog(file, site.fake.clock, Asking({kSerial}, 1));
    CHECK_FALSE(facts.readWhole);
    CHECK(facts.bytesRead < 256 * 1024);
    CHECK(facts.boxes.at(kSerial).lastDownload);
    CHECK(*facts.oldest == testing::UtcTime(2006, 12, 1, 9, 0));  // from the log's head
  }
  SUBCASE("a serial waiting in the cache is looked for further back") {
    TextFile file(log);
    const LogFacts facts = ScanLog(file, site.fake.clock, Asking({"00000000000001"}));
    CHECK(facts.readWhole);
    CHECK_FALSE(facts.boxes.count("00000000000001"));
  }
  SUBCASE("as many boxes as ports are selected are looked for further back") {
    std::string older = log;
    for (auto at = older.find(kSerial); at != std::string::npos; at = older.find(kSerial, at))
      older.replace(at, 14, "00000000000042");
    TextFile file(older + history + log);
    const LogFacts facts = ScanLog(file, site.fake.clock, Asking({}, 2));
    CHECK(facts.boxes.size() == 2);
    CHECK(facts.boxes.at("00000000000042").lastDownload->records == 1);
    CHECK(facts.boxes.at(kSerial).lastDownload);
  }
  SUBCASE("a line cut mid-write at the end is not taken") {
    TextFile file(log + ";Upload initiated at 07/01/22 1400\r\n;Upload successful.  Server resp");
    const LogFacts facts = ScanLog(file, site.fake.clock, {});
    CHECK(facts.unfinishedLastLine);
    CHECK(facts.lastAttempt->result == UploadResult::NoResult);
    CHECK(facts.lastDelivery->at == kStart - 9 + 60);
  }
  SUBCASE("garbage, binary and impossible times") {
    constexpr char kBinary[] = "\0\xff\x01record\r\n;Upload initiated at 07/13/45 9999\r\n";
    std::string junk(kBinary, sizeof kBinary - 1);
    junk += ";ended 2007/01/22 @ 1\r\n; Request /submitr?zz\r\n" + std::string(70000, '\0');
    TextFile file(junk + "\n" + log + junk);
    const LogFacts facts = ScanLog(file, site.fake.clock, {});
    CHECK(facts.unreadableLines == 1);  // the binary line; the head is never reached
    CHECK(facts.unfinishedLastLine);
    CHECK(facts.lastAttempt->result == UploadResult::Accepted);  // not the impossible time
    CHECK(facts.lastDelivery);
    CHECK(facts.boxes.at(kSerial).lastDownload->records == 1);
  }
  SUBCASE("an empty log") {
    TextFile file("");
    const LogFacts facts = ScanLog(file, site.fake.clock, {});
    CHECK_FALSE(facts.oldest);
    CHECK_FALSE(facts.lastAttempt);
    CHECK(facts.readWhole);
  }
}

TEST_CASE("the cache reader counts whole records by box and day") {
  Site site;
  site.BoxHolds({kRecord1, kRecord2});
  site.Minutes(1);  // downloaded, not uploaded yet
  const std::string downloaded = site.dir.Read("quorveld.dat");
  REQUIRE(downloaded.size() == 2 * 39);

  SUBCASE("as the service writes it") {
    TextFile file(downloaded + "00000000000042,20070120,23,00001,00000\n");
    const CacheFacts facts = ScanCache(file);
    CHECK(facts.records == 3);
    CHECK(facts.BoxDayCount() == 2);
    CHECK(facts.boxes.at(kSerial).days == std::set<std::uint32_t>{20070122});
    CHECK(facts.boxes.at("00000000000042").records == 1);
    CHECK(facts.notRecords == 0);
  }
  SUBCASE("a box whose only day reads as zero still has that day") {
    TextFile file("00000000000042,00000000,13,00001,00000\n");
    const CacheFacts facts = ScanCache(file);
    CHECK(facts.boxes.at("00000000000042").days == std::set<std::uint32_t>{0});
    SiteStatus status;
    status.cache = facts;
    const std::string text = StatusText(status, Judge(status), site.fake.clock);
    CHECK(text.find("  box 00000000000042: 1 records, 1 day, ") != std::string::npos);
  }
  SUBCASE("damaged lines are counted, the first one named") {
    TextFile file("garbage\n" + downloaded + "0123456789abcd,20070123,24,00001,00000\n" +
                  std::string(300, '7') + "\n" + "0123456789abcd,2007");
    const CacheFacts facts = ScanCache(file);
    CHECK(facts.records == 2);
    CHECK(facts.notRecords == 4);
    CHECK(facts.firstNotRecord == 1);
  }
  SUBCASE("lines across the reading pieces") {
    std::string many;
    for (int day = 1; day <= 28; ++day)
      for (int i = 0; i < 100; ++i)
        many += downloaded.substr(0, 15) + "200702" + (day < 10 ? "0" : "") + std::to_string(day) +
                downloaded.substr(23, 16);
    TextFile file(many);
    const CacheFacts facts = ScanCache(file);
    CHECK(facts.records == 2800);
    CHECK(facts.notRecords == 0);
    CHECK(*facts.boxes.at(kSerial).days.begin() == 20070201);
    CHECK(*facts.boxes.at(kSerial).days.rbegin() == 20070228);
  }
}

namespace {

// The status program's surroundings over the site's folder and the fakes.
struct Check {
  explicit Check(Site& site) : site(site) {
    site.fake.profiles.Set(kSettingsFile, "LocalDir", site.dir.ServicePath());
    site.fake.profiles.Set(kSettingsFile, "ComPorts", "11");
  }
  SiteStatus Gather(const StatusOptions& options = {}) {
    Surroundings around{site.fake.profiles,
                        *files,
                        site.fake.clock,
                        running,
                        site.dir.ServicePath() + "\\quorveld.INI",
                        site.dir.ServicePath(),
                        site.dir.ServicePath() + "\\quorveld.exe",
                        version};
    return GatherStatus(options, around);
  }
  std::string Summary(const StatusOptions& options = {}) {
    const SiteStatus status = Gather(options);
    const std::string text = StatusText(status, Judge(status), site.fake.clock);
    return text.substr(0, text.find('\n'));
  }
  Site& site;
  std::unique_ptr<StatusFiles> files = MakeSystemStatusFiles();
  bool running = true;
  std::string version = "1.0.4.1";
};

}  // namespace

// The first `expected.size()` characters of `text`, so a failing check shows both.
std::string Start(const std::string& text, const std::string& expected) {
  return text.substr(0, expected.size());
}

TEST_CASE("the verdict follows the service, the waiting records and the ages") {
  Site site;
  site.BoxHolds({kRecord1, kRecord2});
  site.ServerAnswers(200);
  site.Minutes(2);
  Check check(site);
  site.fake.clock.Advance(14 * 60);

  SUBCASE("delivering: OK with the figures; only judged ages carry thresholds") {
    CHECK(check.Summary() ==
          "QUORVEL OK - 2 ports, 1 box, 0 records waiting, last delivery 15 min ago | waiting=0;;; "
          "box_days=0;;; upload_age_s=909;;; download_age_s=909;21600;172800; "
          "failed_uploads=0;;; log_bytes=" +
              std::to_string(site.Log().size()) + "B;;; cache_bytes=0B;;;");
    CHECK(Judge(check.Gather()).verdict == Verdict::Ok);
  }
  SUBCASE("the service not running is critical") {
    check.running = false;
    const std::string expected = "QUORVEL CRITICAL - service not running; 2 ports, 1 box,";
    CHECK(Start(check.Summary(), expected) == expected);
  }
  SUBCASE("records waiting without a delivery, and a port without a box: warning, then critical") {
    site.BoxHolds({kRecord1});
    site.fake.http.defaultReply = {HttpResponse::Outcome::SendFailed, 0, "", false, "down"};
    site.Minutes(60);
    StatusOptions options;
    options.warnHours = 0.5;
    options.critHours = 1.5;
    std::string expected =
        "QUORVEL WARNING - no upload delivered for 75 min, 1 of 2 ports without a download for "
        "over 30 min (COM2); 2 ports, 1 box, 1 record waiting";
    CHECK(Start(check.Summary(options), expected) == expected);
    site.Minutes(30);
    options.warnHours = 1;  // the box polls hourly: its last download is 45 minutes old
    expected =
        "QUORVEL CRITICAL - no upload delivered for 105 min, 1 of 2 ports without a download for "
        "over 90 min (COM2); ";
    CHECK(Start(check.Summary(options), expected) == expected);
  }
  SUBCASE("an event that never happened ages from the log's first time") {
    TempDir fresh;
    site.fake.profiles.Set(kSettingsFile, "LocalDir", fresh.ServicePath());
    fresh.Write("quorveld.dat",
                site.dir.Read("quorveld.dat") + "0123456789abcd,20070122,13,00012,00034\n");
    fresh.Write("quorveld.log",
                ";=============================================\r\n"
                ";Upload initiated at 07/01/22 1310\r\n"
                ";Upload failed.  Server response 0\r\n");
    StatusOptions options;
    options.warnHours = 0.25;
    CHECK(Judge(check.Gather(options)).verdict == Verdict::Ok);  // 11 minutes: not late yet
    site.fake.clock.Advance(10 * 60);
    const std::string expected =
        "QUORVEL WARNING - no upload delivered for 21 min, box 0123456789abcd without a download "
        "for 21 min, 2 of 2 ports without a download for over 15 min (COM1 COM2); 2 ports, 1 box, "
        "1 record waiting, last delivery never";
    CHECK(Start(check.Summary(options), expected) == expected);
  }
  SUBCASE("what cannot be read is unknown, with the reason") {
    StatusOptions options;
    options.dir = site.dir.ServicePath() + "\\missing";
    CHECK(check.Summary(options) ==
          "QUORVEL UNKNOWN - storage folder " + *options.dir + " not found");
    CHECK(Judge(check.Gather(options)).verdict == Verdict::Unknown);
    options = {};
    options.ini = site.dir.ServicePath() + "\\other.INI";
    CHECK(check.Summary(options) ==
          "QUORVEL UNKNOWN - settings file " + *options.ini + " not found");
  }
  SUBCASE("--ini reads the settings from the file named") {
    StatusOptions options;
    options.ini = site.dir.ServicePath() + "\\other.INI";
    site.dir.Write("other.INI", "");
    site.fake.profiles.Set(*options.ini, "LocalDir", site.dir.ServicePath());
    site.fake.profiles.Set(*options.ini, "ComPorts", "001");
    const std::string expected = "QUORVEL OK - 1 port, 1 box, ";
    CHECK(Start(check.Summary(options), expected) == expected);
  }
  SUBCASE("a save of the settings cut off: the copy beside the file holds the settings") {
    const std::string copy = site.dir.ServicePath() + "\\quorveld.INI.copy";
    site.dir.Write("quorveld.INI.copy", "");
    site.fake.profiles.Set(copy, "LocalDir", site.dir.ServicePath());
    site.fake.profiles.Set(copy, "ComPorts", "001");
    const std::string expected = "QUORVEL OK - 1 port, 1 box, ";
    CHECK(Start(check.Summary(), expected) == expected);
  }
  SUBCASE("JSON carries the same facts") {
    const SiteStatus status = check.Gather();
    const std::string json = StatusJson(status, Judge(status), site.fake.clock);
    CHECK(json.rfind("{\"status\":\"OK\",\"exit_code\":0,\"problems\":\"\",", 0) == 0);
    CHECK(json.find("\"com_ports\":[\"COM1\",\"COM2\"]") != std::string::npos);
    CHECK(json.find("\"last_delivered_upload\":{\"time\":\"2007/01/22 13:06:00\",\"result\":"
                    "\"accepted\",\"response\":200,\"serial\":\"0123456789abcd\",\"day\":"
                    "\"20070122\",\"scrambled\":false}") != std::string::npos);
    CHECK(json.find("\"ports_matched\":[{\"port\":\"COM1\",\"last_poll\":\"2007/01/22 13:06:00\","
                    "\"last_download\":\"2007/01/22 13:06:09\",\"serial\":\"0123456789abcd\"},"
                    "{\"port\":\"COM2\",\"last_poll\":\"2007/01/22 13:06:00\"}]") !=
          std::string::npos);
    CHECK(json.back() == '\n');
    CHECK(json.find('\n') == json.size() - 1);
  }
}
// Boxes that hold nothing and answer every poll, by port; a port left out stays silent.
void EmptyBoxes(Site& site, const std::map<int, std::string>& serials) {
  site.fake.comm.onWrite = [&site, serials](int port, const std::string& bytes) {
    const auto box = serials.find(port);
    if (box == serials.end()) return;
    const std::string command = bytes.substr(0, 4);
    if (command == "SSSN") site.fake.comm.Feed(port, box->second + "01\r");
    if (command == "SSDD" || command == "SSCD") site.fake.comm.Feed(port, "COOL\r");
  };
}

TEST_CASE("no OK without evidence") {
  Site site;
  site.settings.Logging = 0;
  site.BoxHolds({kRecord1});
  site.fake.http.defaultReply = {HttpResponse::Outcome::SendFailed, 0, "", false, "down"};
  site.Minutes(3);
  Check check(site);
  site.fake.profiles.Set(kSettingsFile, "Logging", "0");
  const std::string log = site.dir.ServicePath() + "\\quorveld.log";

  SUBCASE("logging off with records waiting: a warning naming the log looked for") {
    const std::string expected = "QUORVEL WARNING - no log at " + log +
                                 " (logging is off): nothing tells whether the waiting records "
                                 "move; 2 ports, 1 box, 1 record waiting, last delivery unknown";
    CHECK(Start(check.Summary(), expected) == expected);
  }
  SUBCASE("no log and nothing waiting: unknown; a stopped service stays critical") {
    TempDir elsewhere;
    StatusOptions options;
    options.dir = elsewhere.ServicePath();
    const std::string expected = "QUORVEL UNKNOWN - no log at " + elsewhere.ServicePath() +
                                 "\\quorveld.log (logging is off); 2 ports, 0 boxes, ";
    CHECK(Start(check.Summary(options), expected) == expected);
    CHECK(Judge(check.Gather(options)).verdict == Verdict::Unknown);
    check.running = false;
    CHECK(Judge(check.Gather(options)).verdict == Verdict::Critical);
  }
  SUBCASE("a log without a single time is no evidence either") {
    site.dir.Write("quorveld.log", "garbage\r\n");
    CHECK(Judge(check.Gather()).verdict == Verdict::Warning);
  }
  SUBCASE("a log showing uploads without the cache they read: unknown, naming the cache") {
    site.dir.Write("quorveld.log",
                   ";Upload initiated at 07/01/22 1310\r\n"
                   ";Upload aborted. Nothing to send.\r\n");
    std::filesystem::remove(site.dir.File("quorveld.dat"));
    const Judgement j = Judge(check.Gather());
    CHECK(j.verdict == Verdict::Unknown);
    CHECK(j.problems.find("no cache at " + site.dir.ServicePath() + "\\quorveld.dat") !=
          std::string::npos);
  }
}

TEST_CASE("the installed program's version reaches the text, the JSON and the metrics") {
  Site site;
  site.BoxHolds({kRecord1});
  site.ServerAnswers(200);
  site.Minutes(2);
  Check check(site);
  const auto outputs = [&](const StatusOptions& options = {}) {
    const SiteStatus status = check.Gather(options);
    const Judgement j = Judge(status);
    return std::vector<std::string>{StatusText(status, j, site.fake.clock),
                                    StatusJson(status, j, site.fake.clock),
                                    StatusMetrics(status, j, site.fake.clock)};
  };
  const std::string info =
      "# HELP quorvel_build_info The installed quorveld.exe's version, as a label.\n"
      "# TYPE quorvel_build_info gauge\nquorvel_build_info{version=\"1.0.4.1\"} 1\n";

  SUBCASE("read from quorveld.exe") {
    const auto out = outputs();
    CHECK(out[0].find("\nProgram: " + site.dir.ServicePath() +
                      "\\quorveld.exe, version 1.0.4.1\n") != std::string::npos);
    CHECK(out[1].find(",\"version\":\"1.0.4.1\",\"service_running\":true,") != std::string::npos);
    CHECK(out[2].find(info) != std::string::npos);
  }
  SUBCASE("also when the site's state is unknown: an update gone wrong shows") {
    StatusOptions options;
    options.dir = site.dir.ServicePath() + "\\missing";
    const auto out = outputs(options);
    CHECK(out[1].find("\"version\":\"1.0.4.1\"}") != std::string::npos);
    CHECK(out[2].find(info) != std::string::npos);
  }
  SUBCASE("none read: said so, and no build metric with an empty label") {
    check.version.clear();
    const auto out = outputs();
    CHECK(out[0].find("quorveld.exe, version unknown\n") != std::string::npos);
    CHECK(out[1].find("\"version\":null,") != std::string::npos);
    CHECK(out[2].find("quorvel_build_info") == std::string::npos);
  }
}

TEST_CASE("every box and every selected port is judged") {
  Site site;
  site.settings.PortSelected[2] = 1;
  site.fake.comm.openError.clear();
  EmptyBoxes(site, {{0, "00000000000001"}, {1, "00000000000002"}, {2, "00000000000003"}});
  site.Minutes(62);                                                  // two polls of the three boxes
  EmptyBoxes(site, {{0, "00000000000001"}, {2, "00000000000003"}});  // COM2's box is pulled
  site.Minutes(3 * 60);
  Check check(site);
  site.fake.profiles.Set(kSettingsFile, "ComPorts", "111");
  StatusOptions options;
  options.warnHours = 1;
  options.critHours = 2;

  SUBCASE("the pulled box and its port are named while the others deliver") {
    const SiteStatus status = check.Gather(options);
    const Judgement j = Judge(status);
    CHECK(j.verdict == Verdict::Critical);
    CHECK(j.problems ==
          "box 00000000000002 without a download for 3.0 h, "
          "1 of 3 ports without a download for over 2.0 h (COM2)");
    CHECK(j.portAges.at(0) < 3600);
    CHECK(j.portAges.at(1) > 3 * 3600);
    CHECK(*j.downloadAge == j.boxAges.at("00000000000002"));

    const std::string metrics = StatusMetrics(status, j, site.fake.clock);
    CHECK(metrics.find("# TYPE quorvel_up gauge\nquorvel_up 0\n") != std::string::npos);
    CHECK(metrics.find("\nquorvel_verdict 2\n") != std::string::npos);
    CHECK(metrics.find("\nquorvel_box_last_download_age_seconds{serial=\"00000000000002\","
                       "port=\"COM2\"} " +
                       std::to_string(j.boxAges.at("00000000000002")) + "\n") != std::string::npos);
    CHECK(metrics.find("\nquorvel_port_selected{port=\"COM3\"} 1\n") != std::string::npos);
  }
  SUBCASE("polls that do not fit the selected ports name no port") {
    site.fake.profiles.Set(kSettingsFile, "ComPorts", "1111");  // COM4 added since
    const Judgement j = Judge(check.Gather(options));
    CHECK(j.problems.find("ports without a download for over 2.0 h") != std::string::npos);
    CHECK(j.problems.find("(COM") == std::string::npos);
  }
  SUBCASE("two boxes gone: both named with their ports, read from far back") {
    std::string history;
    while (history.size() < 3 * 1024 * 1024) history += ";Upload aborted. Nothing to send.\r\n";
    site.ReplaceLog(site.Log() + history);
    EmptyBoxes(site, {{0, "00000000000001"}});
    site.Minutes(3 * 60);
    const Judgement j = Judge(check.Gather(options));
    CHECK(j.problems ==
          "box 00000000000002 without a download for 6.0 h, "
          "box 00000000000003 without a download for 3.0 h, "
          "2 of 3 ports without a download for over 2.0 h (COM2 COM3)");
  }
  SUBCASE("past the threshold nothing but the missing boxes is looked for") {
    std::string history;
    while (history.size() < 3 * 1024 * 1024) history += site.Log();
    site.ReplaceLog(history);
    site.Minutes(3 * 60);
    const SiteStatus status = check.Gather(options);
    CHECK_FALSE(status.log.readWhole);
    CHECK(status.log.bytesRead < 256 * 1024);
    CHECK_FALSE(status.log.lastDelivery);  // no upload ever delivered: older than the threshold
  }
}

TEST_CASE("deliveries, clocks and the tail budget") {
  Site site;
  site.BoxHolds({kRecord1});
  SUBCASE("a server answering 201 for ever delivers nothing") {
    site.fake.http.defaultReply = {HttpResponse::Outcome::Received, 201, "", true, ""};
    site.Minutes(3 * 60);
    Check check(site);
    StatusOptions options;
    options.warnHours = 1;
    options.critHours = 2;
    const SiteStatus status = check.Gather(options);
    CHECK_FALSE(status.log.lastDelivery);
    CHECK(status.log.answered201Since >= 6);
    const std::string summary = check.Summary(options);
    const std::string expected = "QUORVEL CRITICAL - no upload delivered for 3.0 h (" +
                                 std::to_string(status.log.answered201Since) +
                                 " answered 201: nothing trimmed)";
    CHECK(Start(summary, expected) == expected);
    CHECK(summary.find("1 record waiting, last delivery never") != std::string::npos);
  }
  SUBCASE("times ahead of the clock: a warning, not fresh") {
    site.ServerAnswers(200);
    site.Minutes(2);
    Check check(site);
    site.fake.clock.Advance(-2 * 86400);
    const Judgement j = Judge(check.Gather());
    CHECK(j.verdict == Verdict::Warning);
    CHECK(j.problems == "clock set back (the log runs 48.0 h ahead)");
    site.fake.clock.Advance(2 * 86400 - 30 * 60);  // within daylight saving's hour
    CHECK(Judge(check.Gather()).verdict == Verdict::Ok);
  }
  SUBCASE("the tail budget bounds the reading, and the summary says so") {
    site.ServerAnswers(200);
    site.Minutes(2);
    std::string history;
    while (history.size() < 2 * 1024 * 1024) history += ";Upload aborted. Nothing to send.\r\n";
    LogQuestions questions = Asking({"00000000000009"}, 1);
    questions.tailBudget = 1024 * 1024;
    TextFile file(site.Log() + history);
    const LogFacts facts = ScanLog(file, site.fake.clock, questions);
    CHECK(facts.budgetSpent);
    CHECK(facts.bytesRead >= questions.tailBudget);
    CHECK(facts.bytesRead < questions.tailBudget + 2 * ReverseLineReader::kPiece);
    SiteStatus status;
    status.log = facts;
    status.now = site.fake.clock.Now();
    status.settings.PortSelected[0] = 1;
    CHECK(StatusText(status, Judge(status), site.fake.clock).find(", log read back 1 MB only |") !=
          std::string::npos);
  }
}

TEST_CASE("the metrics file is replaced whole") {
  TempDir dir;
  const auto files = MakeSystemStatusFiles();
  const std::string path = dir.ServicePath() + "\\quorvel.prom";
  REQUIRE(files->WriteWhole(path, "quorvel_up 1\n"));
  REQUIRE(files->WriteWhole(path, "quorvel_up 0\n"));
  CHECK(dir.Read("quorvel.prom") == "quorvel_up 0\n");
  CHECK(files->OpenShared(path + ".tmp").outcome == OpenOutcome::Missing);
  CHECK_FALSE(files->WriteWhole(dir.ServicePath() + "\\no\\such\\folder\\quorvel.prom", ""));
}

TEST_CASE("reading leaves the service's files to the service") {
  TempDir dir;
  const std::string cache = dir.ServicePath() + "\\quorveld.dat";
  dir.Write("quorveld.dat", "0123456789abcd,20070122,13,00012,00034\n");
  dir.Write("quorveld.lst", "");
  const auto files = MakeSystemFileSystem();
  const auto status = MakeSystemStatusFiles();

  // The service holds the file open for appending, denying writes to others; the reader
  // gets in, and while it reads the service can open the file again.
  FileHandle held = files->Open(cache, "ab", true);
  REQUIRE(held);
  OpenedFile opened = status->OpenShared(cache);
  REQUIRE(opened.outcome == OpenOutcome::Opened);
  held.reset();
  CHECK(files->Open(cache, "ab", true));
  opened.file.reset();

  // Once the status is gathered nothing holds the cache: the trim can replace it.
  Site site;
  Check check(site);
  site.fake.profiles.Set(kSettingsFile, "LocalDir", dir.ServicePath());
  CHECK(check.Gather().cache.records == 1);
  CHECK(files->Replace(dir.ServicePath() + "\\quorveld.lst", cache));
  CHECK(dir.Read("quorveld.dat").empty());
  CHECK(status->OpenShared(dir.ServicePath() + "\\nothing.dat").outcome == OpenOutcome::Missing);
}

TEST_CASE("command line arguments") {
  StatusOptions options;
  std::string error;
  SUBCASE("all of them") {
    REQUIRE(ParseStatusOptions({"--ini", "a.ini", "--dir=C:\\data", "--warn-hours", "0.5",
                                "--crit-hours=1.25", "--json", "--prom", "site.prom"},
                               options, error));
    CHECK(*options.ini == "a.ini");
    CHECK(*options.dir == "C:\\data");
    CHECK(options.warnHours == 0.5);
    CHECK(options.critHours == 1.25);
    CHECK(options.json);
    CHECK(*options.prom == "site.prom");
  }
  SUBCASE("bad ones are refused with the reason") {
    CHECK_FALSE(ParseStatusOptions({"--warn-hours", "soon"}, options, error));
    CHECK(error == "--warn-hours needs a positive number of hours, not 'soon'");
    CHECK_FALSE(ParseStatusOptions({"--crit-hours", "-1"}, options, error));
    CHECK_FALSE(ParseStatusOptions({"--ini"}, options, error));
    CHECK(error == "--ini needs a value");
    CHECK_FALSE(ParseStatusOptions({"--prom="}, options, error));
    CHECK(error == "--prom needs a value");
    CHECK_FALSE(ParseStatusOptions({"--verbose"}, options, error));
    CHECK(error == "unknown argument '--verbose'");
    CHECK_FALSE(ParseStatusOptions({"--json=1"}, options, error));
    options = {};
    CHECK_FALSE(ParseStatusOptions({"--warn-hours", "10", "--crit-hours", "5"}, options, error));
    CHECK(error == "--warn-hours is more than --crit-hours");
  }
}

}  // namespace quorvel
