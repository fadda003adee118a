#include <doctest.h>

#include <string>

#include "service/upload/submit.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;
using Outcome = HttpResponse::Outcome;

constexpr const char* kExamplePath =
    "/submitr?0123456789abcd20070122Z0Z0Z0Z0Z0Z0Z0Y0dE024Z0Z0Z0Z0Z0X0";

UploadBatch ExampleBatch() {
  std::string text = "0123456789abcd20070122" + std::string(384, '0');
  text.replace(22 + 16 * 13, 16, "0000000d00000024");
  UploadBatch batch;
  text.copy(batch.text.data(), text.size());
  return batch;
}

HttpResponse Reply(int status, const std::string& body, bool complete = true) {
  return {Outcome::Received, status, body, complete, ""};
}

struct Upload {
  TempDir dir;
  FakePlatform fake;  // local time 2007-01-22 13:05 (UTC)
  Settings settings;
  LocalStore store{settings, *fake.files};
  bool clockSyncPending = false;
  SecureFailure secureFailure = SecureFailure::None;

  Upload() {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    settings.ServerDomain = "127.0.0.1";
    settings.ServerPort = 8080;
  }
  int Submit() {
    return SubmitBatch(ExampleBatch(), settings, fake.platform, store, clockSyncPending,
                       secureFailure);
  }
};

TEST_CASE("the batch goes out as one GET, plain or scrambled, and is logged") {
  Upload u;
  u.fake.http.defaultReply = Reply(200, "");
  REQUIRE(u.store.OpenLog());

  SUBCASE("plain") {
    u.Submit();
    REQUIRE(u.fake.http.requests.size() == 1);
    const HttpRequest& r = u.fake.http.requests[0];
    CHECK(r.object == kExamplePath);
    CHECK(r.port == 8080);
    CHECK_FALSE(r.direct);
    CHECK_FALSE(r.diagnostic);
    CHECK(u.dir.Read("quorveld.log") == std::string("; Request ") + kExamplePath + "\r\n");
  }
  SUBCASE("scrambled with the low 16 bits of the tick count as seed") {
    u.settings.Encrypt = 1;
    u.fake.clock.SetMillis(0x7123BEEF);
    u.Submit();
    REQUIRE(u.fake.http.requests.size() == 1);
    const std::string path = u.fake.http.requests[0].object;
    CHECK(path.substr(0, 14) == "/submitrs?BEEF");
    CHECK(path.size() == std::string(kExamplePath).size() + 5);
    CHECK(u.dir.Read("quorveld.log") == "; Request " + path + "\r\n");
  }
  SUBCASE("no log line while the log is closed") {
    u.store.CloseLog();
    u.Submit();
    CHECK(u.dir.Read("quorveld.log").empty());
  }
}

TEST_CASE("the result code comes from the marker line, else the status, else 0") {
  Upload u;
  SUBCASE("marker line with a result") {
    u.fake.http.defaultReply = Reply(200, "<p>\r\n<div id=\"server_response\" title=\"201\">\r\n");
    CHECK(u.Submit() == 201);
  }
  SUBCASE("no marker line: the HTTP status") {
    u.fake.http.defaultReply = Reply(200, "<html>Thanks</html>\r\n");
    CHECK(u.Submit() == 200);
    u.fake.http.defaultReply = Reply(500, "Internal error\r\n");
    CHECK(u.Submit() == 500);
  }
  SUBCASE("nothing sent or no status: 0") {
    u.fake.http.defaultReply = {Outcome::SendFailed, 0, "", false, "refused"};
    CHECK(u.Submit() == 0);
    u.fake.http.defaultReply = {Outcome::OpenFailed, 0, "", false, "no session"};
    CHECK(u.Submit() == 0);
  }
  SUBCASE("a reply cut off mid-line: only its whole lines are read") {
    u.fake.http.defaultReply = Reply(404, "<p>\nid=\"server_response\" title=\"20", false);
    CHECK(u.Submit() == 404);
    u.fake.http.defaultReply = Reply(404, "id=\"server_response\" title=\"200\"\nmore", false);
    CHECK(u.Submit() == 200);
  }
  CHECK_FALSE(u.clockSyncPending);
}

TEST_CASE("Secure=1 sends the upload and the ping over HTTPS and passes on why it failed") {
  Upload u;
  SUBCASE("Secure=0: plain, and no reason even when the layer gives one") {
    HttpResponse failed{Outcome::SendFailed, 0, "", false, "refused"};
    failed.secureFailure = SecureFailure::Expired;
    u.fake.http.defaultReply = failed;
    CHECK(u.Submit() == 0);
    PingServer(false, u.settings, u.fake.platform);
    REQUIRE(u.fake.http.requests.size() == 2);
    CHECK_FALSE(u.fake.http.requests[0].secure);
    CHECK_FALSE(u.fake.http.requests[1].secure);
    CHECK(u.secureFailure == SecureFailure::None);
  }
  SUBCASE("Secure=1: same object and port, secure; a failure's reason comes back") {
    u.settings.Secure = 1;
    HttpResponse failed{Outcome::SendFailed, 0, "", false, "name mismatch"};
    failed.secureFailure = SecureFailure::NameMismatch;
    u.fake.http.replies = {failed, Reply(200, "")};
    CHECK(u.Submit() == 0);
    CHECK(u.secureFailure == SecureFailure::NameMismatch);
    CHECK(u.Submit() == 200);
    CHECK(u.secureFailure == SecureFailure::None);
    u.fake.http.defaultReply = Reply(200, "");
    CHECK(PingServer(false, u.settings, u.fake.platform));
    REQUIRE(u.fake.http.requests.size() == 3);
    for (const HttpRequest& r : u.fake.http.requests) {
      CHECK(r.secure);
      CHECK(r.port == 8080);
    }
    CHECK(u.fake.http.requests[0].object == kExamplePath);
    CHECK(u.fake.http.requests[2].diagnostic);
  }
}

TEST_CASE("a clock mark that agrees with the PC sets clockSyncPending; nothing clears it") {
  Upload u;
  SUBCASE("agrees") {
    u.fake.http.defaultReply =
        Reply(200, "<div id=\"server_response@abcd01221307\" title=\"200\">OK</div>\n");
    CHECK(u.Submit() == 200);
    CHECK(u.clockSyncPending);
  }
  SUBCASE("an hour off, or no mark: left as it was") {
    u.fake.http.defaultReply =
        Reply(200, "<div id=\"server_response@abcd01221205\" title=\"200\">OK</div>\n");
    u.Submit();
    CHECK_FALSE(u.clockSyncPending);
    u.clockSyncPending = true;
    u.Submit();
    u.fake.http.defaultReply = Reply(200, "<div id=\"server_response\" title=\"200\">\n");
    u.Submit();
    CHECK(u.clockSyncPending);
  }
}

}  // namespace
}  // namespace quorvel
