#include <doctest.h>

#include "service/boxlink/box_link.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;

constexpr int kPort = 0;
constexpr const char* kRecord = "0D 16 01 07 000C 0022 A6";

// A link in the middle of a download: every line handed on shows in the log as a record
// line with its exact text (or as a bad checksum) and is answered on the port.
struct FramingFixture {
  TempDir dir;
  FakePlatform fakes;
  Settings settings;
  LocalStore store{settings, *fakes.files};
  BoxLink link{settings, fakes.platform, store};

  FramingFixture() {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    REQUIRE(store.OpenLog());
    REQUIRE(link.OpenPort(kPort));
  }
  void Downloading() {
    REQUIRE(store.OpenCache(true));
    link.set_state(LinkState::Downloading);
  }
  void Feed(const std::string& bytes) { fakes.comm.Feed(kPort, bytes); }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) link.PollReceive();
  }
  std::string Log() const { return dir.Read("quorveld.log"); }
  std::size_t Answers() const { return fakes.comm.writes.size(); }
};

TEST_CASE("bytes are cut into lines at each carriage return, one line per tick") {
  FramingFixture f;
  f.Downloading();
  SUBCASE("a line arriving in pieces is handed on once complete") {
    f.Feed("0D 16 01 07 000C 00");
    f.Tick();
    CHECK(f.Answers() == 0);
    f.Feed("22 A6\r");
    f.Tick();
    CHECK(f.Answers() == 1);
    CHECK(f.Log() == "record    1:0D 16 01 07 000C 0022 A6\r\n");
  }
  SUBCASE("lines arriving together wait for the following ticks") {
    f.Feed(std::string(kRecord) + "\r" + kRecord + "\r" + kRecord + "\r");
    f.Tick();
    CHECK(f.Answers() == 1);
    f.Tick();
    CHECK(f.Answers() == 2);
    f.Tick();
    f.Tick();
    CHECK(f.Answers() == 3);
    CHECK(f.Log() ==
          "record    1:0D 16 01 07 000C 0022 A6\r\n"
          "record    2:0D 16 01 07 000C 0022 A6\r\n"
          "record    3:0D 16 01 07 000C 0022 A6\r\n");
  }
  SUBCASE("a line feed belongs to the next line; a lone CR is an empty line") {
    f.Feed(std::string(kRecord) + "\r\n" + kRecord + "\r\r");
    f.Tick();
    f.Tick();
    f.Tick();
    CHECK(f.Log() ==
          "record    1:0D 16 01 07 000C 0022 A6\r\n"
          "record    2:\n0D 16 01 07 000C 0022 A6\r\n"
          ": Bad checksum.\r\n");
    CHECK(f.fakes.comm.Sent(kPort) == "COOL\rCOOL\rBUMMER\r");
  }
  SUBCASE("a NUL byte ends the text of its line") {
    f.Feed(std::string(kRecord) + std::string(1, '\0') + "junk\r");
    f.Tick();
    CHECK(f.Log() == "record    1:0D 16 01 07 000C 0022 A6\r\n");
  }
}

TEST_CASE("an overlong line is cut to 511 characters and the next line stays in step") {
  FramingFixture f;
  f.Downloading();
  const std::string longLine = std::string(kRecord) + std::string(600, ' ') + "tail";
  f.Feed(longLine + "\r" + kRecord + "\r");
  f.Tick();
  f.Tick();
  CHECK(f.Log() == "record    1:" + longLine.substr(0, 511) + "\r\n" +
                       "record    2:0D 16 01 07 000C 0022 A6\r\n");
}

TEST_CASE("a full buffer without a line end is thrown away") {
  FramingFixture f;
  f.Downloading();
  f.Feed(std::string(BoxLink::kReceiveBufferSize, 'x') + kRecord + "\r");
  f.Tick();
  CHECK(f.Answers() == 0);
  f.Tick();
  CHECK(f.Log() == "record    1:0D 16 01 07 000C 0022 A6\r\n");
}

TEST_CASE("the time-out counts silent ticks; a waiting partial line counts its own silence") {
  FramingFixture f;
  f.link.RequestSerial();  // arms 1 s: ten ticks
  const auto ticksUntilClosed = [&](int limit) {
    for (int tick = 1; tick <= limit; ++tick) {
      f.Tick();
      if (!f.link.portOpen()) return tick;
    }
    return -1;
  };
  SUBCASE("silence fires on the eleventh tick") {
    CHECK(ticksUntilClosed(100) == 11);
  }
  SUBCASE("a full buffer discarded counts like a silent tick") {
    f.Feed(std::string(BoxLink::kReceiveBufferSize, 'x'));
    CHECK(ticksUntilClosed(100) == 11);
  }
  SUBCASE("a part of a line followed by silence times out a time-out after its last byte") {
    std::string part;
    SUBCASE("part of the serial") {
      part = "0D1601";
    }
    SUBCASE("one stray byte") {
      part = "\x8F";
    }
    f.Tick();
    f.Feed(part);
    // Its arrival tick, ten quiet ones, then the eleventh ends the exchange.
    CHECK(ticksUntilClosed(100) == 12);
    CHECK(f.Log() == ";The unit is not responding to AutoSerial.\r\n");
    CHECK(f.link.state() == LinkState::Idle);
  }
  SUBCASE("a line still trickling in is not cut off") {
    // One character every nine ticks: slower than the time-out for the whole line.
    for (const char c : std::string("0D160102030405")) {
      f.Feed(std::string(1, c));
      f.Tick(9);
      REQUIRE(f.link.portOpen());
    }
    f.Feed("06\r");
    f.Tick();
    CHECK(f.Log().rfind(";Serial #0d160102030405\r\n", 0) == 0);
  }
  SUBCASE("every line arms it again") {
    f.link.set_state(LinkState::Downloading);
    REQUIRE(f.store.OpenCache(true));
    f.link.SetTimeout(3);
    f.Tick();
    f.Feed(std::string(kRecord) + "\r");
    // The record's own tick, then eleven silent ones.
    CHECK(ticksUntilClosed(100) == 12);
  }
}

}  // namespace
}  // namespace quorvel
