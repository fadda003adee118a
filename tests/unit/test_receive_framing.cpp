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
  void Tick() { link.PollReceive(); }
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

TEST_CASE("the time-out counts only ticks that start with nothing waiting") {
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
  SUBCASE("a partial line holds the count") {
    f.Feed("0123");
    CHECK(ticksUntilClosed(100) == -1);
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
