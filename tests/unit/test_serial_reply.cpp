#include <doctest.h>

#include "service/boxlink/box_link.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;

constexpr int kPort = 0;

// One serial request answered with `reply`; gives what the service sent and logged.
struct SerialExchange {
  TempDir dir;
  FakePlatform fakes;
  Settings settings;
  LocalStore store{settings, *fakes.files};
  BoxLink link{settings, fakes.platform, store};

  explicit SerialExchange(const std::string& reply) {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    fakes.comm.onWrite = [this, reply](int port, const std::string& bytes) {
      if (bytes == "SSSN\r") fakes.comm.Feed(port, reply + "\r");
    };
    REQUIRE(store.OpenLog());
    REQUIRE(link.OpenPort(kPort));
    link.RequestSerial();
    for (int tick = 0; tick < 5; ++tick) link.PollReceive();
  }
  std::string Sent() const { return fakes.comm.Sent(kPort); }
  std::string Log() const { return dir.Read("quorveld.log"); }
};

TEST_CASE("a serial reply is taken only when the line is the serial and nothing else") {
  SUBCASE("the reply as the unit sends it starts the download") {
    SerialExchange x("0123456789ABCD01");
    CHECK(x.Sent() == "SSSN\rSSDD\r");
    CHECK(x.Log().rfind(";Serial #0123456789abcd\r\n", 0) == 0);
  }
  SUBCASE("blanks between and around the bytes are white space") {
    SerialExchange x(" 01 23 45 67 89 ab cd 01 ");
    CHECK(x.Sent() == "SSSN\rSSDD\r");
    CHECK(x.Log().rfind(";Serial #0123456789abcd\r\n", 0) == 0);
  }
  SUBCASE("noise before the serial would shift every byte") {
    SerialExchange x("50123456789ABCD01");
    CHECK(x.Sent() == "SSSN\r");
    CHECK(x.Log() == ";Bad response to GetSerial: 50123456789ABCD01\r\n");
    CHECK(x.link.state() == LinkState::Idle);
  }
  SUBCASE("a byte with one digit") {
    SerialExchange x("A 0123456789ABCD01");
    CHECK(x.Log() == ";Bad response to GetSerial: A 0123456789ABCD01\r\n");
  }
  SUBCASE("characters after the version byte") {
    SerialExchange x("0123456789ABCD01#");
    CHECK(x.Log() == ";Bad response to GetSerial: 0123456789ABCD01#\r\n");
  }
}

}  // namespace
}  // namespace quorvel
