#include <doctest.h>

#include <string>
#include <vector>

#include "service/upload/submit.h"
#include "tests/fakes/fakes.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using Outcome = HttpResponse::Outcome;

HttpResponse Status(int status) {
  return {Outcome::Received, status, "", true, ""};
}

Settings ServerSettings() {
  Settings s;
  s.ServerDomain = "127.0.0.1";
  s.ServerPort = 65616;  // only the low 16 bits count: port 80
  s.IgnoreProxy = 1;
  return s;
}

std::vector<std::string> Shown(const FakePlatform& fake) {
  std::vector<std::string> lines;
  for (const auto& box : fake.notifier.shown) {
    CHECK(box.icon == MessageIcon::Information);
    CHECK(box.owner == MessageOwner::None);
    lines.push_back(box.caption + ": " + box.text);
  }
  return lines;
}

TEST_CASE("the ping asks for ping?<version> with the diagnostic request") {
  FakePlatform fake;
  Settings settings = ServerSettings();
  fake.http.replies.push_back(Status(200));

  SUBCASE("with the program's version, directly") {
    PingServer(false, settings, fake.platform);
    REQUIRE(fake.http.requests.size() == 1);
    const HttpRequest& r = fake.http.requests[0];
    CHECK(r.object == "ping?1.0.4.1");
    CHECK(r.host == "127.0.0.1");
    CHECK(r.port == 80);
    CHECK(r.direct);
    CHECK(r.diagnostic);
  }
  SUBCASE("without version information, through the system's proxy setting") {
    fake.program.version = "";
    settings.IgnoreProxy = 0;
    PingServer(false, settings, fake.platform);
    REQUIRE(fake.http.requests.size() == 1);
    CHECK(fake.http.requests[0].object == "ping?");
    CHECK_FALSE(fake.http.requests[0].direct);
  }
}

TEST_CASE("the ping succeeds for statuses 200 to 202 only") {
  FakePlatform fake;
  const Settings settings = ServerSettings();
  for (const int status : {200, 201, 202}) {
    fake.http.replies.push_back(Status(status));
    CHECK_MESSAGE(PingServer(false, settings, fake.platform), status);
  }
  for (const int status : {199, 204, 301, 404, 500}) {
    fake.http.replies.push_back(Status(status));
    CHECK_FALSE_MESSAGE(PingServer(false, settings, fake.platform), status);
  }
  fake.http.replies.push_back({Outcome::SendFailed, 0, "", false, "refused"});
  CHECK_FALSE(PingServer(false, settings, fake.platform));
  fake.http.replies.push_back({Outcome::OpenFailed, 0, "", false, "no session"});
  CHECK_FALSE(PingServer(false, settings, fake.platform));
}

TEST_CASE("the interactive ping traces its request; the silent one shows nothing") {
  FakePlatform fake;
  const Settings settings = ServerSettings();

  SUBCASE("a working server: the two trace boxes") {
    fake.http.replies.push_back(Status(500));
    CHECK_FALSE(PingServer(true, settings, fake.platform));
    CHECK(Shown(fake) == std::vector<std::string>{"Trace: About to call SendRequest.",
                                                  "Trace: SendRequest completed."});
  }
  SUBCASE("a closed port: the failure text instead of the completion") {
    fake.http.replies.push_back(
        {Outcome::SendFailed, 0, "", false, "A connection with the server could not be made"});
    CHECK_FALSE(PingServer(true, settings, fake.platform));
    CHECK(Shown(fake) ==
          std::vector<std::string>{
              "Trace: About to call SendRequest.",
              "SendRequest failure: A connection with the server could not be made"});
  }
  SUBCASE("a request that could not even be opened: only its failure text") {
    fake.http.replies.push_back({Outcome::OpenFailed, 0, "", false, "Error 12007"});
    CHECK_FALSE(PingServer(true, settings, fake.platform));
    CHECK(Shown(fake) == std::vector<std::string>{"SendRequest failure: Error 12007"});
  }
  SUBCASE("a failure text is cut to 256 characters") {
    fake.http.replies.push_back({Outcome::SendFailed, 0, "", false, std::string(300, 'x')});
    PingServer(true, settings, fake.platform);
    REQUIRE(fake.notifier.shown.size() == 2);
    CHECK(fake.notifier.shown[1].text == std::string(256, 'x'));
  }
  SUBCASE("silent mode, whatever happens") {
    fake.http.replies = {Status(200),
                         Status(404),
                         {Outcome::SendFailed, 0, "", false, "refused"},
                         {Outcome::OpenFailed, 0, "", false, "no session"}};
    for (int i = 0; i < 4; ++i) PingServer(false, settings, fake.platform);
    CHECK(fake.notifier.shown.empty());
  }
}

}  // namespace
}  // namespace quorvel
