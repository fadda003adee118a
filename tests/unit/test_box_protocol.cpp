#include <doctest.h>

#include <map>
#include <memory>

#include "service/boxlink/box_link.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;

constexpr int kPort = 3;
constexpr const char* kSerialReply = "0123456789ABCD01\r";
constexpr const char* kRecord1 = "0D 16 01 07 000C 0022 A6";
constexpr const char* kRecord2 = "0E 16 01 07 0001 0002 D0";
constexpr const char* kRecordDay32 = "0D 32 01 07 000C 0022 8A";
constexpr const char* kRecordOneCount = "0D 16 01 07 000C C8";
constexpr const char* kCacheLine1 = "0123456789abcd,20070122,13,00012,00034\n";
constexpr const char* kCacheLine2 = "0123456789abcd,20070122,14,00001,00002\n";
constexpr const char* kLogStart =
    ";Serial #0123456789abcd\r\n"
    "Download initiated from 0123456789abcd v 01\r\n"
    ";start 2007/01/22 @ 13:05:09\r\n";

// The real file system with faults switched on by the test.
class FaultyFiles : public FileSystem {
 public:
  explicit FaultyFiles(FileSystem& real) : real_(real) {}
  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override {
    const bool isCache = path.size() > 4 && path.compare(path.size() - 4, 4, ".dat") == 0;
    if (isCache && cacheOpenFails) return nullptr;
    // A stream that cannot be written: the appends fail as on a full disk.
    if (isCache && cacheWritesFail) return real_.Open(path, "rb", denyWrite);
    return real_.Open(path, mode, denyWrite);
  }
  bool Commit(std::FILE* file) override { return !commitFails && real_.Commit(file); }
  bool Replace(const std::string& source, const std::string& target) override {
    return real_.Replace(source, target);
  }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  bool Remove(const std::string& path) override { return real_.Remove(path); }
  bool Truncate(const std::string& path, std::int64_t size) override {
    return real_.Truncate(path, size);
  }

  bool cacheOpenFails = false;
  bool cacheWritesFail = false;
  bool commitFails = false;

 private:
  FileSystem& real_;
};

// A box on kPort that answers each command from a script of lines.
struct LinkFixture {
  TempDir dir;
  FakePlatform fakes;
  FaultyFiles files{*fakes.files};
  Settings settings;
  LocalStore store{settings, files};
  BoxLink link{settings, fakes.platform, store};
  std::map<std::string, std::deque<std::string>> replies;  // command -> next replies

  LinkFixture() {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    dir.Write("quorveld.dat", "");
    fakes.comm.onWrite = [this](int port, const std::string& bytes) {
      auto& queue = replies[bytes.substr(0, bytes.size() - 1)];
      if (queue.empty()) return;
      fakes.comm.Feed(port, queue.front());
      queue.pop_front();
    };
  }
  void Answer(const std::string& command, std::initializer_list<std::string> lines) {
    for (const auto& line : lines) replies[command].push_back(line);
  }
  // A box holding these records, sent one per acknowledgement, then its end-of-data "COOL".
  void BoxWithRecords(std::initializer_list<std::string> records) {
    Answer("SSSN", {kSerialReply});
    auto it = records.begin();
    Answer("SSDD", {*it++ + "\r"});
    for (; it != records.end(); ++it) Answer("COOL", {*it + "\r"});
    Answer("COOL", {"COOL\r"});
  }
  void StartDownloadExchange() {
    REQUIRE(store.OpenLog());
    REQUIRE(link.OpenPort(kPort));
    link.RequestSerial();
  }
  // Ticks until the exchange has ended, at most `limit` ticks; returns the ticks used.
  int RunExchange(int limit = 100) {
    for (int tick = 1; tick <= limit; ++tick) {
      link.PollReceive();
      if (link.state() == LinkState::Idle && !link.portOpen()) return tick;
    }
    return -1;
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) link.PollReceive();
  }
  std::string Sent() const { return fakes.comm.Sent(kPort); }
  std::string Log() const { return dir.Read("quorveld.log"); }
  std::string Cache() const { return dir.Read("quorveld.dat"); }
  const std::vector<testing::RecordingNotifier::Shown>& Boxes() const {
    return fakes.notifier.shown;
  }
};

TEST_CASE("ports open one at a time with the link's fixed settings") {
  LinkFixture f;
  REQUIRE(f.link.OpenPort(1));
  CHECK(f.link.openPortIndex() == 1);
  f.fakes.comm.openError[2] = 5;
  CHECK_FALSE(f.link.OpenPort(2));
  CHECK(f.link.lastOpenError() == 5);
  CHECK_FALSE(f.link.portOpen());
  CHECK(f.link.openPortIndex() == -1);
  CHECK(f.fakes.comm.calls ==
        std::vector<std::string>{"open 1", "characteristics 1 9600", "close 1", "open 2"});
  REQUIRE(f.link.OpenPort(4));
  CHECK(f.link.lastOpenError() == 0);

  SUBCASE("an empty command repeats the last one; no line feed is ever sent") {
    CHECK(f.link.SendCommand("") == 0);
    CHECK(f.link.SendCommand("SSDD") != 0);
    CHECK(f.link.SendCommand("") != 0);
    CHECK(f.link.SendCommand("") != 0);
    CHECK(f.fakes.comm.Sent(4) == "SSDD\rSSDD\rSSDD\r");
  }
  SUBCASE("nothing is sent on a closed port") {
    f.link.ClosePort();
    CHECK(f.link.SendCommand("SSSN") == 0);
    CHECK(f.fakes.comm.writes.empty());
  }
}

TEST_CASE("a typical download stores the records, clears the unit and logs every step") {
  LinkFixture f;
  f.BoxWithRecords({kRecord1, kRecord2});
  f.Answer("SSCD", {"COOL\r"});
  f.StartDownloadExchange();
  CHECK(f.RunExchange() > 0);

  CHECK(f.Sent() == "SSSN\rSSDD\rCOOL\rCOOL\rSSCD\r");
  CHECK(f.Log() == std::string(kLogStart) +
                       "record    1:0D 16 01 07 000C 0022 A6\r\n"
                       "record    2:0E 16 01 07 0001 0002 D0\r\n"
                       ";ended 2007/01/22 @ 13:05:09\r\n"
                       ";clearing data...\r\n"
                       ";Data successfully cleared.\r\n");
  CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2);
  CHECK(f.link.recordCount() == 2);
  CHECK_FALSE(f.store.IsLogOpen());
  CHECK_FALSE(f.store.IsCacheOpen());
  CHECK(f.fakes.comm.calls.back() == "close 3");
}

TEST_CASE("record lines are acknowledged by checksum and cached by plausibility") {
  LinkFixture f;
  f.Answer("SSCD", {"BUMMER\r"});
  SUBCASE("bad checksum: rejected, not counted, the unit sends it again") {
    f.Answer("SSSN", {kSerialReply});
    f.Answer("SSDD", {"0D 16 01 07 000C 0022 A7\r"});
    f.Answer("BUMMER", {std::string(kRecord1) + "\r"});
    f.Answer("COOL", {"COOL\r"});
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Sent() == "SSSN\rSSDD\rBUMMER\rCOOL\rSSCD\r");
    CHECK(f.Log() == std::string(kLogStart) +
                         ": Bad checksum.\r\n"
                         "record    1:0D 16 01 07 000C 0022 A6\r\n"
                         ";ended 2007/01/22 @ 13:05:09\r\n"
                         ";clearing data...\r\n"
                         ";Error clearing data.\r\n");
    CHECK(f.Cache() == kCacheLine1);
  }
  SUBCASE("impossible date: acknowledged and counted, not cached") {
    f.BoxWithRecords({kRecordDay32, kRecordOneCount});
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Sent() == "SSSN\rSSDD\rCOOL\rCOOL\rSSCD\r");
    CHECK(f.Log().find("record    1:0D 32 01 07 000C 0022 8A: Garbage record ignored\r\n"
                       "record    2:0D 16 01 07 000C C8\r\n") != std::string::npos);
    CHECK(f.link.recordCount() == 2);
    CHECK(f.Cache() == "0123456789abcd,20070122,13,00012,00000\n");
  }
  SUBCASE("lines that look like keywords but are not") {
    f.Answer("SSSN", {kSerialReply});
    f.Answer("SSDD", {"BITEM\r"});
    f.Answer("BUMMER", {"\r", "coolant\r"});
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Sent() == "SSSN\rSSDD\rBUMMER\rBUMMER\rSSCD\r");
    CHECK(f.Log().find(": Bad checksum.\r\n: Bad checksum.\r\n;ended ") != std::string::npos);
  }
}

TEST_CASE("HASH makes the service send its last command again") {
  LinkFixture f;
  f.Answer("SSSN", {kSerialReply});
  f.Answer("SSDD", {"HASH\r", std::string(kRecord1) + "\r"});
  f.Answer("COOL", {"hash\r", "Cool\r"});
  f.StartDownloadExchange();
  f.Ticks(6);
  CHECK(f.Sent() == "SSSN\rSSDD\rSSDD\rCOOL\rCOOL\rSSCD\r");
  CHECK(f.link.state() == LinkState::ClearingData);
}

TEST_CASE("the unit breaking off a download ends it without clearing") {
  LinkFixture f;
  f.Answer("SSSN", {kSerialReply});
  f.Answer("SSDD", {std::string(kRecord1) + "\r"});
  SUBCASE("BITEME") {
    f.Answer("COOL", {"biteme now\r"});
    f.fakes.notifier.onShow = [&](const auto&) {
      // The box comes after the exchange has ended.
      CHECK_FALSE(f.link.portOpen());
      CHECK(f.link.state() == LinkState::Idle);
    };
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Log() == std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                         ";Error downloading data. The data download is incomplete.\r\n");
    REQUIRE(f.Boxes().size() == 1);
    CHECK(f.Boxes()[0].text == "The data download is incomplete.");
    CHECK(f.Boxes()[0].caption == "Download Aborted");
    CHECK(f.Boxes()[0].icon == MessageIcon::Exclamation);
    CHECK(f.Boxes()[0].owner == MessageOwner::ServiceWindow);
  }
  SUBCASE("BITEME again while the first box is open shows no second box") {
    // Three downloads, each breaking off after its first record.
    f.Answer("SSSN", {kSerialReply, kSerialReply});
    f.Answer("SSDD", {std::string(kRecord1) + "\r", std::string(kRecord1) + "\r"});
    f.Answer("COOL", {"BITEME\r", "BITEME\r", "BITEME\r"});
    int shown = 0;
    f.fakes.notifier.onShow = [&](const auto&) {
      if (shown++ > 0) return;
      f.StartDownloadExchange();  // the next poll, run by a tick inside the open box
      f.RunExchange();
    };
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Boxes().size() == 1);
    const std::string aborted = ";Error downloading data. The data download is incomplete.\r\n";
    CHECK(f.Log().find(aborted) != f.Log().rfind(aborted));  // both aborts are logged
    f.fakes.notifier.onShow = nullptr;
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Boxes().size() == 2);  // once the first box is closed, the next one shows
    return;
  }
  SUBCASE("BUMMER") {
    f.Answer("COOL", {"BUMMER\r"});
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Log() == std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                         ";Error downloading data.\r\n");
    CHECK(f.Boxes().empty());
  }
  CHECK(f.Sent() == "SSSN\rSSDD\rCOOL\r");
  CHECK(f.Cache() == kCacheLine1);
  CHECK_FALSE(f.store.IsLogOpen());
  CHECK_FALSE(f.store.IsCacheOpen());
}

TEST_CASE("the unit is cleared only when every good record is safely on disk") {
  LinkFixture f;
  f.BoxWithRecords({kRecord1, kRecord2});
  std::string expectedLog;
  SUBCASE("cache closed while records arrive") {
    f.StartDownloadExchange();
    f.Ticks(2);  // serial reply, then the first record
    f.store.CloseCache();
    f.RunExchange();
    CHECK(f.Cache() == kCacheLine1);
    expectedLog = std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                  "record    2:0E 16 01 07 0001 0002 D0;Cache file not open.  Record lost.\r\n" +
                  ";ended 2007/01/22 @ 13:05:09\r\n;Records not stored; unit not cleared.\r\n";
  }
  SUBCASE("cache writes failing") {
    f.files.cacheWritesFail = true;
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Cache().empty());
    expectedLog = std::string(kLogStart) +
                  "record    1:0D 16 01 07 000C 0022 A6;Cache write failed.  Record not stored.\r\n"
                  "record    2:0E 16 01 07 0001 0002 D0;Cache write failed.  Record not stored.\r\n"
                  ";ended 2007/01/22 @ 13:05:09\r\n;Records not stored; unit not cleared.\r\n";
  }
  SUBCASE("commit to disk failing") {
    f.files.commitFails = true;
    f.StartDownloadExchange();
    f.RunExchange();
    CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2);
    expectedLog = std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                  "record    2:0E 16 01 07 0001 0002 D0\r\n" +
                  ";ended 2007/01/22 @ 13:05:09\r\n;Cache not saved to disk; unit not cleared.\r\n";
  }
  CHECK(f.Sent() == "SSSN\rSSDD\rCOOL\rCOOL\r");
  CHECK(f.Log() == expectedLog);
  CHECK_FALSE(f.store.IsCacheOpen());
  CHECK_FALSE(f.store.IsLogOpen());
}

TEST_CASE("a malformed serial reply ends the exchange without a download") {
  LinkFixture f;
  f.Answer("SSSN", {"0123456789ABCD\r"});
  f.StartDownloadExchange();
  CHECK(f.RunExchange() == 1);
  CHECK(f.Sent() == "SSSN\r");
  CHECK(f.Log() == ";Bad response to GetSerial: 0123456789ABCD\r\n");
  CHECK(f.store.IsLogOpen());
}

TEST_CASE("a download that cannot start leaves nothing open") {
  LinkFixture f;
  f.Answer("SSSN", {kSerialReply});
  SUBCASE("download command not sent") {
    f.fakes.comm.onWrite = [&](int port, const std::string&) {
      f.fakes.comm.Feed(port, kSerialReply);
      f.fakes.comm.putFails = true;
    };
  }
  SUBCASE("cache cannot be opened") {
    f.files.cacheOpenFails = true;
  }
  f.StartDownloadExchange();
  CHECK(f.RunExchange() == 1);
  CHECK(f.Sent() == "SSSN\r");
  CHECK(f.Log() ==
        ";Serial #0123456789abcd\r\n;Error: unable to initiate download.\r\n"
        ";failure time 2007/01/22 @ 13:05:09\r\n");
  CHECK_FALSE(f.store.IsCacheOpen());
  CHECK_FALSE(f.store.IsLogOpen());
  CHECK(f.link.state() == LinkState::Idle);
}

TEST_CASE("a silent unit ends each exchange after its time-out") {
  LinkFixture f;
  REQUIRE(f.store.OpenLog());
  SUBCASE("serial request: 1 s") {
    REQUIRE(f.link.OpenPort(kPort));
    f.link.RequestSerial();
    CHECK(f.RunExchange() == 11);
    CHECK(f.Log() == ";The unit is not responding to AutoSerial.\r\n");
    CHECK(f.store.IsLogOpen());
  }
  SUBCASE("download: 3 s before the first record, 1 s after each") {
    f.Answer("SSSN", {kSerialReply});
    f.Answer("SSDD", {std::string(kRecord1) + "\r"});
    REQUIRE(f.link.OpenPort(kPort));
    f.link.RequestSerial();
    f.Ticks(1);
    CHECK(f.store.IsCacheOpen());
    // The record arrives with the next tick; after it, 1 s of silence ends the download.
    CHECK(f.RunExchange() == 12);
    CHECK(f.Log() == std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                         ";The unit is not responding.\r\n;\r\n");
    CHECK_FALSE(f.store.IsCacheOpen());
    CHECK(f.store.IsLogOpen());
  }
  SUBCASE("download with no record at all") {
    f.Answer("SSSN", {kSerialReply});
    REQUIRE(f.link.OpenPort(kPort));
    f.link.RequestSerial();
    f.Ticks(1);
    CHECK(f.RunExchange() == 31);
  }
  SUBCASE("clearing: the exchange is ended and the cache closed") {
    f.BoxWithRecords({kRecord1});
    REQUIRE(f.link.OpenPort(kPort));
    f.link.RequestSerial();
    f.Ticks(3);
    REQUIRE(f.link.state() == LinkState::ClearingData);
    CHECK(f.RunExchange() == 11);
    CHECK(f.Log() == std::string(kLogStart) + "record    1:0D 16 01 07 000C 0022 A6\r\n" +
                         ";ended 2007/01/22 @ 13:05:09\r\n;clearing data...\r\n" +
                         ";The unit is not responding.\r\n;\r\n");
    CHECK_FALSE(f.store.IsCacheOpen());
    CHECK_FALSE(f.store.IsLogOpen());
    CHECK(f.Cache() == kCacheLine1);
  }
  CHECK(f.link.state() == LinkState::Idle);
}

TEST_CASE("a clock setting sends the PC's local time and logs the answer") {
  LinkFixture f;
  REQUIRE(f.store.OpenLog());
  REQUIRE(f.link.OpenPort(kPort));
  f.link.SendSetTime();  // Monday 2007-01-22 13:05:09
  CHECK(f.Sent() == "SSTS09050D02160107\r");
  CHECK(f.link.state() == LinkState::SettingTime);
  SUBCASE("accepted") {
    f.fakes.comm.Feed(kPort, "COOL\r");
    CHECK(f.RunExchange() == 1);
    CHECK(f.Log() == ";The remote time has been set to system time.\r\n");
  }
  SUBCASE("refused") {
    f.fakes.comm.Feed(kPort, "bummer\r");
    CHECK(f.RunExchange() == 1);
    CHECK(f.Log() == ";Bad response to Set Time command.\r\n");
  }
  SUBCASE("no answer within 2 s") {
    CHECK(f.RunExchange() == 21);
    CHECK(f.Log() == ";The unit is not responding.\r\n;\r\n");
  }
  CHECK(f.store.IsLogOpen());
}

TEST_CASE("the port test shows the unit's clock") {
  LinkFixture f;
  REQUIRE(f.link.OpenPort(kPort));
  f.link.StartPortTest();
  CHECK(f.Sent() == "SSTR\r");
  CHECK(f.link.state() == LinkState::Testing);
  std::string text = "The unit reports 01:05 Monday, January 22 2007";
  std::string caption = "Remote Time";
  SUBCASE("the weekday sent is ignored") {
    f.fakes.comm.Feed(kPort, "09050D07160107\r");
  }
  SUBCASE("out-of-range fields roll over") {
    f.fakes.comm.Feed(kPort, "00 3C 17 01 1F 0C 63\r");  // 23:60 on 31 December 1999
    text = "The unit reports 12:00 Saturday, January 01 2000";
  }
  SUBCASE("refusal") {
    f.fakes.comm.Feed(kPort, "BUMMER 09050D02160107\r");
    text = "Bad response to Transmit Time command.";
    caption = "Command Error";
  }
  SUBCASE("too few fields") {
    f.fakes.comm.Feed(kPort, "09050D021601\r");
    text = "Bad response to Transmit Time command.";
    caption = "Command Error";
  }
  CHECK(f.RunExchange() == 1);
  REQUIRE(f.Boxes().size() == 1);
  CHECK(f.Boxes()[0].text == text);
  CHECK(f.Boxes()[0].caption == caption);
  CHECK(f.Boxes()[0].icon == MessageIcon::Information);
  CHECK(f.Boxes()[0].owner == MessageOwner::ServiceWindow);
}

TEST_CASE("a port test without answer keeps the test running while its box shows") {
  LinkFixture f;
  REQUIRE(f.link.OpenPort(kPort));
  f.link.StartPortTest();
  SUBCASE("no late reply") {
    f.fakes.notifier.onShow = [&](const auto&) {
      CHECK(f.link.state() == LinkState::Testing);
      CHECK(f.link.portOpen());
    };
    CHECK(f.RunExchange() == 21);
    REQUIRE(f.Boxes().size() == 1);
    CHECK(f.Boxes()[0].text == "The device is not responding.");
    CHECK(f.Boxes()[0].caption == "Test Failed");
    CHECK(f.Boxes()[0].owner == MessageOwner::None);
  }
  SUBCASE("a late reply and a new exchange while the box shows") {
    f.fakes.notifier.onShow = [&](const auto& shown) {
      if (shown.caption != "Test Failed") return;
      // Ticks keep running inside the box: the reply ends the test, then the scheduler
      // starts a download on another port.
      f.fakes.comm.Feed(kPort, "09050D02160107\r");
      f.link.PollReceive();
      REQUIRE(f.link.OpenPort(5));
      f.link.RequestSerial();
    };
    f.Ticks(21);
    REQUIRE(f.Boxes().size() == 2);
    CHECK(f.Boxes()[1].caption == "Remote Time");
    CHECK(f.link.openPortIndex() == 5);
    CHECK(f.link.state() == LinkState::ReadingSerial);
  }
}

TEST_CASE("a line nobody waits for closes the port") {
  LinkFixture f;
  REQUIRE(f.link.OpenPort(kPort));
  f.fakes.comm.Feed(kPort, "COOL\r");
  CHECK(f.RunExchange() == 1);
  CHECK(f.Sent().empty());
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

constexpr const char* kRecord3 = "0F 16 01 07 0005 0000 CD";
constexpr const char* kCacheLine3 = "0123456789abcd,20070122,15,00005,00000\n";

// Downloads once more from the fixture's box, which now holds `records`.
void DownloadAgain(LinkFixture& f, std::initializer_list<std::string> records,
                   const std::string& clearReply = "COOL\r") {
  f.BoxWithRecords(records);
  f.Answer("SSCD", {clearReply});
  f.StartDownloadExchange();
  REQUIRE(f.RunExchange() > 0);
}

TEST_CASE("a box that was not cleared repeats its records; the repeat is not stored again") {
  LinkFixture f;
  DownloadAgain(f, {kRecord1, kRecord2}, "BUMMER\r");
  REQUIRE(f.Cache() == std::string(kCacheLine1) + kCacheLine2);

  SUBCASE("the repeat, then a new record") {
    DownloadAgain(f, {kRecord1, kRecord2, kRecord3});
    CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
  }
  SUBCASE("known after a restart") {
    LinkFixture restarted;
    restarted.settings.LocalDir = f.settings.LocalDir;
    DownloadAgain(restarted, {kRecord1, kRecord2, kRecord3});
    CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
  }
  SUBCASE("a repeat broken off part way, then the whole of it") {
    f.Answer("SSSN", {kSerialReply});
    f.Answer("SSDD", {std::string(kRecord1) + "\r"});
    f.Answer("COOL", {"BITEME\r"});
    f.StartDownloadExchange();
    REQUIRE(f.RunExchange() > 0);
    DownloadAgain(f, {kRecord1, kRecord2, kRecord3});
    CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
  }
  SUBCASE("the box was cleared after all: equal records that break the sequence are new") {
    DownloadAgain(f, {kRecord1, kRecord3});
    CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine1 + kCacheLine3);
  }
}

TEST_CASE("stray blanks before a record line do not make its repeat a new record") {
  // Line noise of white space only, or the line feed of a box that ends its lines with CR LF.
  const std::string noisy1 = std::string("\v ") + kRecord1;
  const std::string noisy2 = std::string("\n") + kRecord2;
  LinkFixture f;
  SUBCASE("in the repeat") {
    DownloadAgain(f, {kRecord1, kRecord2}, "BUMMER\r");
    DownloadAgain(f, {noisy1, noisy2, kRecord3});
  }
  SUBCASE("in the first download, the repeat after a restart") {
    DownloadAgain(f, {noisy1, noisy2}, "BUMMER\r");
    LinkFixture restarted;
    restarted.settings.LocalDir = f.settings.LocalDir;
    DownloadAgain(restarted, {kRecord1, kRecord2, kRecord3});
  }
  CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
}

TEST_CASE("a download stopped part way: what the cache kept is not stored again") {
  auto restarted = std::make_unique<LinkFixture>();
  const std::string dir = restarted->settings.LocalDir;
  {
    LinkFixture killed;
    killed.settings.LocalDir = dir;
    killed.BoxWithRecords({kRecord1, kRecord2, kRecord3});
    killed.StartDownloadExchange();
    killed.Ticks(3);  // the serial reply and two records stored; then the program is killed
  }
  SUBCASE("killed: the cache keeps both") {
    REQUIRE(restarted->Cache() == std::string(kCacheLine1) + kCacheLine2);
  }
  SUBCASE("power lost: the cache kept only the first") {
    restarted->dir.Write("quorveld.dat", kCacheLine1);
  }
  restarted->link.LoadBoxMemory();
  DownloadAgain(*restarted, {kRecord1, kRecord2, kRecord3});
  CHECK(restarted->Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
}

TEST_CASE("a note cut short by a power cut does not spoil the notes after it") {
  auto restarted = std::make_unique<LinkFixture>();
  const std::string dir = restarted->settings.LocalDir;
  restarted->dir.Write("quorveld.box", "0123456789abcd@0 0D 16 01 07");  // no line feed
  {
    LinkFixture killed;
    killed.settings.LocalDir = dir;
    killed.BoxWithRecords({kRecord1, kRecord2, kRecord3});
    killed.StartDownloadExchange();
    killed.Ticks(3);  // the serial reply and two records stored; then the program is killed
  }
  restarted->link.LoadBoxMemory();
  DownloadAgain(*restarted, {kRecord1, kRecord2, kRecord3});
  CHECK(restarted->Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
}

// The full disk is a cache stream opened for reading, which POSIX commits and Windows does not.
TEST_CASE("after a full disk, the records stored before it are not stored again in the run") {
  LinkFixture f;
  f.BoxWithRecords({kRecord1, kRecord2});
  f.StartDownloadExchange();
  f.Ticks(2);  // the serial reply, then the first record, stored
  f.files.cacheWritesFail = true;
  SUBCASE("the cache commits") {}
  SUBCASE("the cache cannot be committed: what is in the file still counts") {
    f.files.commitFails = true;
  }
  f.store.CloseCache();
  REQUIRE(f.store.OpenCache(true));
  REQUIRE(f.RunExchange() > 0);
  REQUIRE(f.Cache() == kCacheLine1);
  f.files.cacheWritesFail = false;
  f.files.commitFails = false;
  DownloadAgain(f, {kRecord1, kRecord2});
  CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2);
}

TEST_CASE("after a record that could not be stored, the later ones wait for the box's repeat") {
  LinkFixture f;
  f.BoxWithRecords({kRecord1, kRecord2, kRecord3});
  f.StartDownloadExchange();
  f.Ticks(2);  // the serial reply, then the first record, stored
  f.files.cacheWritesFail = true;
  f.store.CloseCache();
  REQUIRE(f.store.OpenCache(true));
  f.Ticks(1);  // the second record meets a full disk
  f.files.cacheWritesFail = false;  // cutting its bytes back made room again
  f.store.CloseCache();
  REQUIRE(f.store.OpenCache(true));
  REQUIRE(f.RunExchange() > 0);
  REQUIRE(f.Cache() == kCacheLine1);
  DownloadAgain(f, {kRecord1, kRecord2, kRecord3});
  CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine3);
}

TEST_CASE("after a clear that succeeded, equal records are new records") {
  LinkFixture f;
  DownloadAgain(f, {kRecord1, kRecord2});
  DownloadAgain(f, {kRecord1});  // a second partial record of hour 13 with the same counts
  CHECK(f.Cache() == std::string(kCacheLine1) + kCacheLine2 + kCacheLine1);
}

}  // namespace
}  // namespace quorvel
