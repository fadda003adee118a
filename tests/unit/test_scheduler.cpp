#include <doctest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "service/core/service_window.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

using namespace quorvel;
using quorvel::testing::FakePlatform;
using quorvel::testing::TempDir;

namespace {

class FakeHost : public WindowHost {
 public:
  bool StartTimer() override { return timerStarts; }
  void KillTimer() override { ++timerKills; }
  void PostClose() override { ++closesPosted; }
  bool timerStarts = true;
  int timerKills = 0;
  int closesPosted = 0;
};

class FakeOptions : public OptionsDialogRunner {
 public:
  int RunOptionsDialog() override {
    ++runs;
    if (during) during();
    return result;
  }
  int result = kOptionsOk;
  int runs = 0;
  std::function<void()> during;
};

// A service over fakes, its local files in a temporary folder.
struct Service {
  explicit Service(std::initializer_list<int> ports = {0}, int boxRate = 24, int uploadRate = 4) {
    settings.BoxRate = boxRate;
    settings.UploadRate = uploadRate;
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    settings.ServerDomain = "127.0.0.1";
    settings.ServerPort = 80;
    settings.SynchronizeClocks = 1;
    settings.IgnoreProxy = 1;
    for (int p : ports) settings.PortSelected[p] = 1;
    window = std::make_unique<ServiceWindow>(settings, fake.platform, host, options);
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) window->HandleTick();
  }
  // Advances the clock a whole second per call, ticking once.
  void Wait(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      fake.clock.Advance(1);
      Tick();
    }
  }
  std::string Log() const { return dir.Read("quorveld.log"); }

  TempDir dir;
  FakePlatform fake;
  Settings settings;
  FakeHost host;
  FakeOptions options;
  std::unique_ptr<ServiceWindow> window;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int Count(const std::vector<std::string>& calls, const std::string& call) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

}  // namespace

TEST_CASE("first box poll after a minute, first upload after two") {
  Service s({0});
  s.fake.comm.openError[0] = 5;  // keep the poll short: the port does not open
  s.Wait(59);
  CHECK(s.fake.comm.calls.empty());
  s.Wait(1);
  CHECK(Count(s.fake.comm.calls, "open 0") == 1);
  CHECK(Contains(s.Log(), ";Unable to open com port 0\r\n"));
  CHECK(s.fake.http.requests.empty());
  s.Wait(59);
  CHECK(s.fake.http.requests.empty());
  s.Wait(1);
  CHECK(Contains(s.Log(), ";Upload initiated at "));
  CHECK(Contains(s.Log(), ";Upload aborted. Nothing to send.\r\n"));
}

TEST_CASE("with several ports the upload interval is divided among them") {
  Service s({0, 1}, 24, 4);  // 360 minutes / 2 ports = 180, already overdue at start
  s.fake.comm.openError[0] = s.fake.comm.openError[1] = 5;
  s.Tick();
  CHECK(Contains(s.Log(), ";Upload aborted. Nothing to send."));
}

TEST_CASE("a box poll visits the selected ports in order, one per idle tick") {
  Service s({3, 7, 1}, 2000 /* interval 0: always due */, 1);
  s.fake.comm.openError[7] = 12;
  s.Tick();
  CHECK(s.fake.comm.calls.back() == "characteristics 1 9600");
  CHECK(s.window->link().state() == LinkState::ReadingSerial);
  CHECK(s.fake.comm.Sent(1) == "SSSN\r");
  s.Tick(5);  // the exchange runs: no other port is opened meanwhile
  CHECK(Count(s.fake.comm.calls, "open 3") == 0);
  s.Tick(10);  // unit silent: AutoSerial time-out ends the exchange
  CHECK(Contains(s.Log(), ";The unit is not responding to AutoSerial.\r\n"));
  s.Tick();
  CHECK(Count(s.fake.comm.calls, "open 3") == 1);
  s.Tick(16);
  s.Tick();
  CHECK(Count(s.fake.comm.calls, "open 7") == 1);
  CHECK(Contains(s.Log(), ";Unable to open com port 7\r\n"));
  const std::string log = s.Log();
  CHECK(Contains(log, ";=============================================\r\n;Download initiated at 07/01/22 1305\r\n"));
}

TEST_CASE("a box that falls silent in mid-line holds up the site for one time-out only") {
  Service s({0, 1}, 24, 1);
  s.fake.comm.onWrite = [&](int port, const std::string& bytes) {
    if (port == 0 && bytes == "SSSN\r") s.fake.comm.Feed(0, "0D1601");
  };
  s.Wait(60);
  REQUIRE(s.fake.comm.Sent(0) == "SSSN\r");
  s.Tick(13);  // the part arrives, ten quiet ticks, the time-out, the next port
  CHECK(Contains(s.Log(), ";The unit is not responding to AutoSerial.\r\n"));
  CHECK(s.fake.comm.Sent(1) == "SSSN\r");
  s.Tick(11);
  s.Wait(60);
  CHECK(Contains(s.Log(), ";Upload initiated at"));
}

TEST_CASE("the gate stops scheduling while anything runs") {
  Service s({0}, 2000, 1);
  SUBCASE("an exchange in progress") {
    s.Tick();
    REQUIRE(s.window->link().state() == LinkState::ReadingSerial);
    s.fake.keys.HoldChord();
    s.Tick();
    CHECK(s.options.runs == 0);  // the chord waits until the exchange has ended
  }
  SUBCASE("the options dialog: a tick inside it does nothing and opens no second dialog") {
    s.fake.keys.HoldChord();
    s.options.during = [&] {
      CHECK(s.window->optionsDialogOpen());
      s.Tick();
      CHECK(s.window->HandleEndSessionQuery() == false);
    };
    s.Tick();
    CHECK(s.options.runs == 1);
    CHECK(s.fake.comm.calls.empty());
    CHECK_FALSE(s.window->optionsDialogOpen());
  }
}

TEST_CASE("options dialog results drive the scheduler") {
  SUBCASE("Shut Down posts a close and opens no port in the same tick") {
    Service s({0}, 2000, 1);
    s.fake.keys.HoldChord();
    s.options.result = kOptionsShutDown;
    s.Tick();
    CHECK(s.host.closesPosted == 1);
    CHECK(s.fake.comm.calls.empty());
  }
  SUBCASE("box test without a selected port") {
    Service s({});
    s.fake.keys.HoldChord();
    s.options.result = kOptionsBoxTest;
    s.Tick();
    REQUIRE(s.fake.notifier.shown.size() == 1);
    CHECK(s.fake.notifier.shown[0].text == "No port selected.");
    CHECK(s.fake.notifier.shown[0].caption == "Communications Error");
    CHECK(s.fake.comm.calls.empty());
  }
  SUBCASE("box test uses the lowest selected port and is not cut off by a poll") {
    Service s({7, 3}, 2000, 1);
    s.fake.keys.HoldChord();
    s.options.result = kOptionsBoxTest;
    s.Tick();
    CHECK(s.fake.comm.Sent(3) == "SSTR\r");
    CHECK(s.window->link().state() == LinkState::Testing);
    CHECK(Count(s.fake.comm.calls, "open 3") == 1);
  }
  SUBCASE("box test on a port that does not open") {
    Service s({2});
    s.fake.comm.openError[2] = 42;
    s.fake.keys.HoldChord();
    s.options.result = kOptionsBoxTest;
    s.Tick();
    REQUIRE(s.fake.notifier.shown.size() == 1);
    CHECK(s.fake.notifier.shown[0].text == "Unable to open port.  Error code: 42");
  }
  SUBCASE("server test reports the diagnostic's answer") {
    Service s({0});
    s.fake.keys.HoldChord();
    s.options.result = kOptionsServerTest;
    s.fake.http.replies.push_back({HttpResponse::Outcome::Received, 202, "", true, ""});
    s.Tick();
    REQUIRE(!s.fake.notifier.shown.empty());
    CHECK(s.fake.notifier.shown.back().text == "Communication with server is working.");
    CHECK(s.fake.notifier.shown.back().caption == "Communication Diagnostic");
    s.Tick();  // chord still held: the dialog opens again; this time the server is down
    CHECK(s.fake.notifier.shown.back().text == "Communication with server is NOT working.");
  }
}

TEST_CASE("a clock pass runs before box polls and takes over the shared queue") {
  Service s({1, 2, 4}, 2000, 1);
  s.fake.comm.openError[1] = s.fake.comm.openError[2] = s.fake.comm.openError[4] = 3;
  s.Tick();  // poll starts: port 1 fails, ports 2 and 4 wait in the queue
  REQUIRE(s.window->portQueue().size() == 2);
  s.window->set_clockSyncPending(true);
  s.fake.comm.openError.clear();
  s.Tick();
  CHECK(s.fake.comm.Sent(2).rfind("SSTS", 0) == 0);
  CHECK(s.window->link().state() == LinkState::SettingTime);
  s.fake.comm.Feed(2, "COOL\r");
  s.Tick();  // reply ends the clock setting
  s.Tick();
  CHECK(s.fake.comm.Sent(4).rfind("SSTS", 0) == 0);
  CHECK_FALSE(s.window->clockSyncPending());
}

TEST_CASE("a clock pass waits while clock setting is switched off") {
  Service s({0}, 1, 1);
  s.settings.SynchronizeClocks = 0;
  s.window->set_clockSyncPending(true);
  s.Tick();
  CHECK(s.fake.comm.calls.empty());
  CHECK(s.window->clockSyncPending());
  s.settings.SynchronizeClocks = 1;
  s.Tick();
  CHECK(s.fake.comm.Sent(0).rfind("SSTS", 0) == 0);
}

TEST_CASE("upload results decide what happens to the cache") {
  Service s({0, 1}, 1, 4);  // upload due at once, box poll a day away
  const std::string day1 = "0123456789abcd,20070122,13,00012,00034\n";
  const std::string day2 = "0123456789abcd,20070123,01,00001,00002\n";
  s.dir.Write("quorveld.dat", day1 + day2);

  SUBCASE("200 trims exactly the batch and logs success") {
    s.fake.http.replies.push_back({HttpResponse::Outcome::Received, 200, "", true, ""});
    s.Tick();
    CHECK(s.dir.Read("quorveld.dat") == day2);
    CHECK(Contains(s.Log(), ";Upload successful.  Server response 200\r\n"));
    REQUIRE(s.fake.http.requests.size() == 1);
    CHECK(s.fake.http.requests[0].object.rfind("/submitr?0123456789abcd20070122", 0) == 0);
  }
  SUBCASE("201 is logged as success and keeps the cache") {
    s.fake.http.replies.push_back({HttpResponse::Outcome::Received, 201, "", true, ""});
    s.Tick();
    CHECK(s.dir.Read("quorveld.dat") == day1 + day2);
    CHECK(Contains(s.Log(), ";Upload successful.  Server response 201\r\n"));
  }
  SUBCASE("500 and an unreachable server keep the cache") {
    s.fake.http.replies.push_back({HttpResponse::Outcome::Received, 500, "", true, ""});
    s.Tick();
    CHECK(Contains(s.Log(), ";Upload failed.  Server response 500\r\n"));
    s.fake.comm.openError[0] = s.fake.comm.openError[1] = 1;
    s.fake.clock.Advance(181 * 60);
    s.Tick(3);  // the overdue box poll's two ports first, then the upload
    CHECK(Contains(s.Log(), ";Upload failed.  Server response 0\r\n"));
    CHECK(s.dir.Read("quorveld.dat") == day1 + day2);
  }
  SUBCASE("a failed certificate check keeps the cache and adds its reason after the result") {
    s.settings.Secure = 1;
    HttpResponse refused{HttpResponse::Outcome::SendFailed, 0, "", false, "invalid CA"};
    refused.secureFailure = SecureFailure::UntrustedIssuer;
    s.fake.http.replies.push_back(refused);
    s.Tick();
    REQUIRE(s.fake.http.requests.size() == 1);
    CHECK(s.fake.http.requests[0].secure);
    CHECK(s.dir.Read("quorveld.dat") == day1 + day2);
    CHECK(Contains(s.Log(), ";Upload failed.  Server response 0\r\n"
                            ";Secure connection failed: untrusted issuer.\r\n"));
  }
  SUBCASE("a malformed head line is cleaned up without sending") {
    s.dir.Write("quorveld.dat", "garbage\n" + day2);
    s.Tick();
    CHECK(Contains(s.Log(), ";Cleaning up local cache file.  No send.\r\n"));
    CHECK(s.dir.Read("quorveld.dat") == day2);
    CHECK(s.fake.http.requests.empty());
  }
}

TEST_CASE("an accepted batch two or more days old brings the next upload within a minute") {
  Service s({0}, 1, 4);
  s.fake.comm.openError[0] = 1;
  s.fake.http.defaultReply = {HttpResponse::Outcome::Received, 200, "", true, ""};
  s.fake.clock.Set(testing::UtcTime(2007, 1, 24, 9, 0));
  s.dir.Write("quorveld.dat",
              "0123456789abcd,20070122,13,00012,00034\n"
              "0123456789abcd,20070123,13,00001,00002\n"
              "0123456789abcd,20070124,08,00001,00002\n");
  s.window = std::make_unique<ServiceWindow>(s.settings, s.fake.platform, s.host, s.options);
  s.Wait(120);  // first upload two minutes after start: the 22nd, two days old
  REQUIRE(s.fake.http.requests.size() == 1);
  s.Wait(61);
  CHECK(s.fake.http.requests.size() == 2);  // the 23rd followed within a minute
  s.Wait(600);
  CHECK(s.fake.http.requests.size() == 2);  // yesterday's batch: the normal interval applies
}

TEST_CASE("the end-of-session query is accepted only while idle") {
  Service s({0}, 2000, 1);
  SUBCASE("idle") {
    CHECK(s.window->HandleEndSessionQuery());
    CHECK(s.window->link().state() == LinkState::Closing);
    CHECK(s.host.closesPosted == 1);
    s.Tick();
    CHECK(s.fake.comm.calls.empty());  // nothing is scheduled once closing
  }
  SUBCASE("during a download") {
    s.Tick();
    CHECK_FALSE(s.window->HandleEndSessionQuery());
    CHECK(s.host.closesPosted == 0);
  }
}

TEST_CASE("an end of session accepted while \"Download Aborted\" is up starts nothing more") {
  Service s({0, 1}, 2000, 1);
  s.fake.comm.onWrite = [&](int port, const std::string& bytes) {
    if (port != 0) return;
    if (bytes == "SSSN\r") s.fake.comm.Feed(0, "0123456789ABCD01\r");
    if (bytes == "SSDD\r") s.fake.comm.Feed(0, "BITEME\r");
  };
  bool accepted = false;
  s.fake.notifier.onShow = [&](const auto&) { accepted = s.window->HandleEndSessionQuery(); };
  s.Tick(3);
  REQUIRE(s.fake.notifier.shown.size() == 1);
  CHECK(accepted);
  CHECK(s.host.closesPosted == 1);
  s.Tick(20);  // ticks that run before the close arrives
  CHECK(Count(s.fake.comm.calls, "open 1") == 0);
  CHECK_FALSE(Contains(s.Log(), ";Upload initiated"));
}

TEST_CASE("closing writes the shutdown lines and stops the timer") {
  Service s({0});
  s.window->HandleClose();
  CHECK(s.Log() ==
        "=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=\r\n;Service shutdown at 07/01/22 1305\r\n");
  CHECK(s.host.timerKills == 1);
  SUBCASE("with logging off nothing is written") {
    TempDir other;
    s.settings.Logging = 0;
    s.settings.LocalDir = other.ServicePath();
    s.window->HandleClose();
    CHECK(other.Read("quorveld.log").empty());
  }
}

TEST_CASE("creation pings the server silently and fails without a timer") {
  Service s({0});
  CHECK(s.window->HandleCreate() == 0);
  REQUIRE(s.fake.http.requests.size() == 1);
  CHECK(s.fake.http.requests[0].object == "ping?1.0.4.1");
  CHECK(s.fake.notifier.shown.empty());
  s.host.timerStarts = false;
  CHECK(s.window->HandleCreate() == -1);
}
