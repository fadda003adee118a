#include <doctest.h>

#include "service/store/local_store.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;

struct StoreFixture {
  TempDir dir;
  FakePlatform fakes;
  Settings settings;
  LocalStore store{settings, *fakes.files};
  StoreFixture() {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
  }
};

TEST_CASE("log lines end with CR LF and reach the file at once") {
  StoreFixture f;
  f.dir.Write("quorveld.log", "old line\r\n");
  REQUIRE(f.store.OpenLog());
  f.store.WriteLogLine(";Serial #0123456789abcd");
  f.store.WriteLogText("record    1:");
  f.store.WriteLogText("0D 16 01 07 000C 0022 A6");
  // Read while still open: every finished line is already in the file.
  CHECK(f.dir.Read("quorveld.log") == "old line\r\n;Serial #0123456789abcd\r\n");
  f.store.EndLogLine();
  CHECK(f.dir.Read("quorveld.log") ==
        "old line\r\n;Serial #0123456789abcd\r\nrecord    1:0D 16 01 07 000C 0022 A6\r\n");

  SUBCASE("a closed log takes no lines") {
    CHECK(f.store.CloseLog());
    CHECK_FALSE(f.store.CloseLog());
    f.store.WriteLogLine("lost");
    f.store.WriteLogText("lost");
    f.store.EndLogLine();
    CHECK(f.dir.Read("quorveld.log") ==
          "old line\r\n;Serial #0123456789abcd\r\nrecord    1:0D 16 01 07 000C 0022 A6\r\n");
  }
  SUBCASE("opening an open log keeps it") {
    CHECK(f.store.OpenLog());
    f.store.WriteLogLine("next");
    CHECK(f.dir.Read("quorveld.log") ==
          "old line\r\n;Serial #0123456789abcd\r\n"
          "record    1:0D 16 01 07 000C 0022 A6\r\nnext\r\n");
  }
}

TEST_CASE("the Logging setting decides at each OpenLog") {
  StoreFixture f;
  SUBCASE("logging off never creates the file") {
    f.settings.Logging = 0;
    CHECK_FALSE(f.store.OpenLog());
    CHECK_FALSE(f.store.IsLogOpen());
    CHECK_FALSE(std::filesystem::exists(f.dir.File("quorveld.log")));
  }
  SUBCASE("switching logging off closes an open log at the next OpenLog") {
    REQUIRE(f.store.OpenLog());
    f.settings.Logging = 0;
    CHECK_FALSE(f.store.OpenLog());
    CHECK_FALSE(f.store.IsLogOpen());
    f.store.WriteLogLine("not written");
    CHECK(f.dir.Read("quorveld.log").empty());
  }
  SUBCASE("a missing folder makes the open fail") {
    f.settings.LocalDir = f.dir.ServicePath() + "\\missing";
    CHECK_FALSE(f.store.OpenLog());
    CHECK_FALSE(f.store.OpenCache(true));
  }
}

TEST_CASE("cache lines end with LF alone and are appended") {
  StoreFixture f;
  f.dir.Write("quorveld.dat", "0123456789abcd,20070122,13,00012,00034\n");
  REQUIRE(f.store.OpenCache(true));
  CHECK(f.store.IsCacheOpenForWriting());
  CHECK(f.store.AppendCacheLine("0123456789abcd,20070122,14,00001,00002"));
  CHECK(f.dir.Read("quorveld.dat") ==
        "0123456789abcd,20070122,13,00012,00034\n0123456789abcd,20070122,14,00001,00002\n");
  CHECK(f.store.CommitCache());
  CHECK(f.store.CloseCache());
  CHECK_FALSE(f.store.CloseCache());
  CHECK_FALSE(f.store.AppendCacheLine("lost"));
  CHECK_FALSE(f.store.CommitCache());
  CHECK(f.store.CacheStream() == nullptr);
}

TEST_CASE("an open cache stays in the mode it was opened in") {
  StoreFixture f;
  SUBCASE("reading a missing cache creates it empty") {
    REQUIRE(f.store.OpenCache(false));
    CHECK_FALSE(f.store.IsCacheOpenForWriting());
    CHECK(f.store.CacheStream() != nullptr);
    CHECK(std::filesystem::exists(f.dir.File("quorveld.dat")));
    CHECK(f.dir.Read("quorveld.dat").empty());
  }
  SUBCASE("a second open reports success without reopening") {
    REQUIRE(f.store.OpenCache(true));
    std::FILE* first = f.store.CacheStream();
    CHECK(f.store.OpenCache(false));
    CHECK(f.store.CacheStream() == first);
    CHECK(f.store.IsCacheOpenForWriting());
  }
}

}  // namespace
}  // namespace quorvel
