#include <doctest.h>

#include <filesystem>
#include <map>
#include <string>

#include "service/upload/upload_batch.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::TempDir;

const std::string kLine1 = "0123456789abcd,20070122,13,00012,00034\n";
const std::string kLine2 = "0123456789abcd,20070122,13,00001,00002\n";
const std::string kNextDay = "0123456789abcd,20070123,09,00005,00006\n";
const std::string kOtherBox = "00000000000042,20070122,13,00007,00008\n";

// The expected batch text: head, then (hour, "count1count2" as 16 hex digits) groups.
std::string BatchText(const std::string& head, const std::map<int, std::string>& hours) {
  std::string text = head + std::string(384, '0');
  for (const auto& [h, group] : hours) text.replace(22 + 16 * h, 16, group);
  return text;
}

// Wraps the real file system so that a test can make its commit or replace fail.
class FailingFileSystem : public FileSystem {
 public:
  explicit FailingFileSystem(FileSystem& real) : real_(real) {}
  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override {
    return real_.Open(path, mode, denyWrite);
  }
  bool Commit(std::FILE* file) override { return !commitFails && real_.Commit(file); }
  bool Replace(const std::string& source, const std::string& target) override {
    return !replaceFails && real_.Replace(source, target);
  }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  bool Remove(const std::string& path) override { return real_.Remove(path); }
  bool Truncate(const std::string& path, std::int64_t size) override {
    return real_.Truncate(path, size);
  }
  bool commitFails = false;
  bool replaceFails = false;

 private:
  FileSystem& real_;
};

struct Cache {
  TempDir dir;
  std::unique_ptr<FileSystem> real = MakeSystemFileSystem();
  FailingFileSystem files{*real};
  Settings settings;
  LocalStore store{settings, files};
  UploadBatch batch;

  Cache() { settings.LocalDir = dir.ServicePath(); }
  explicit Cache(const std::string& content) : Cache() { dir.Write("quorveld.dat", content); }
  std::int64_t Build() { return BuildUploadBatch(store, batch); }
  std::string Text() const { return std::string(batch.text.data()); }
  std::string Content() const { return dir.Read("quorveld.dat"); }
  bool ListExists() const { return std::filesystem::exists(dir.File("quorveld.lst")); }
};

TEST_CASE("a batch sums the run of one box and day at the head of the cache") {
  SUBCASE("two lines of one hour, then another day") {
    Cache c(kLine1 + kLine2 + kNextDay);
    CHECK(c.Build() == static_cast<std::int64_t>(kLine1.size() + kLine2.size()));
    CHECK(c.Text() == BatchText("0123456789abcd20070122", {{13, "0000000d00000024"}}));
    CHECK_FALSE(c.store.IsCacheOpen());
  }
  SUBCASE("one line without a final line feed covers the whole file") {
    Cache c("0123456789abcd,20070122,00,00001,65535");
    CHECK(c.Build() == 38);
    CHECK(c.Text() == BatchText("0123456789abcd20070122", {{0, "000000010000ffff"}}));
  }
  SUBCASE("interleaved boxes give one line per batch") {
    Cache c(kLine1 + kOtherBox + kLine2);
    CHECK(c.Build() == static_cast<std::int64_t>(kLine1.size()));
  }
  SUBCASE("hour 24 and empty lines inside the run are covered but not summed") {
    Cache c(kLine1 + "0123456789abcd,20070122,24,00100,00100\n" + "\n" + kLine2 + kOtherBox);
    CHECK(c.Build() == static_cast<std::int64_t>(kLine1.size() + 39 + 1 + kLine2.size()));
    CHECK(c.Text() == BatchText("0123456789abcd20070122", {{13, "0000000d00000024"}}));
  }
  SUBCASE("sums wrap at 32 bits") {
    Cache c(
        "00000000000001,20070122,05,4294967295,00000\n"
        "00000000000001,20070122,05,00002,00000\n");
    c.Build();
    CHECK(c.Text() == BatchText("0000000000000120070122", {{5, "0000000100000000"}}));
  }
  SUBCASE("two records of one hour with the same counts both count") {
    // Two partial records of the hour, or the hour repeated when the clocks go back.
    Cache c(kLine1 + kLine2 + kLine1 + kLine2 + kNextDay);
    CHECK(c.Build() == static_cast<std::int64_t>(2 * (kLine1.size() + kLine2.size())));
    CHECK(c.Text() == BatchText("0123456789abcd20070122", {{13, "0000001a00000048"}}));
  }
  SUBCASE("a line longer than 255 characters is one line") {
    const std::string longLine = "0123456789abcd,20070122,13,00001,00001" + std::string(300, ' ');
    Cache c(longLine + "\n" + kOtherBox);
    CHECK(c.Build() == static_cast<std::int64_t>(longLine.size() + 1));
  }
}

TEST_CASE("a cache with nothing to send gives 0 or drops a bad first line") {
  SUBCASE("missing cache: created empty, nothing to send") {
    Cache c;
    CHECK(c.Build() == 0);
    CHECK(c.Text().empty());
    CHECK(c.Content().empty());
  }
  SUBCASE("missing folder") {
    Cache c;
    c.settings.LocalDir += "\\nowhere";
    CHECK(c.Build() == 0);
  }
  SUBCASE("a malformed first line: empty batch covering just that line") {
    Cache c("garbage,line\n" + kLine1);
    CHECK(c.Build() == 13);
    CHECK(c.batch.IsEmpty());
    CHECK(c.Text().empty());
  }
  SUBCASE("a first line of four fields is malformed too") {
    Cache c("0123456789abcd,20070122,13,00012\n" + kLine1);
    CHECK(c.Build() == 33);
    CHECK(c.batch.IsEmpty());
  }
}

TEST_CASE("a cache left open for appending is reopened for reading") {
  Cache c(kLine1);
  REQUIRE(c.store.OpenCache(/*forWriting=*/true));
  REQUIRE(c.store.AppendCacheLine(kLine2.substr(0, kLine2.size() - 1)));
  CHECK(c.Build() == static_cast<std::int64_t>(kLine1.size() + kLine2.size()));
  CHECK(c.Text() == BatchText("0123456789abcd20070122", {{13, "0000000d00000024"}}));
  CHECK_FALSE(c.store.IsCacheOpen());
}

TEST_CASE("trimming removes the head and replaces the cache in one step") {
  Cache c(kLine1 + kLine2 + kNextDay);
  const std::int64_t head = static_cast<std::int64_t>(kLine1.size() + kLine2.size());

  SUBCASE("the tail stays") {
    CHECK(TrimCache(c.settings, c.files, head));
    CHECK(c.Content() == kNextDay);
    CHECK_FALSE(c.ListExists());
  }
  SUBCASE("the whole file leaves an empty cache; 0 leaves it as it was") {
    CHECK(TrimCache(c.settings, c.files, 0));
    CHECK(c.Content() == kLine1 + kLine2 + kNextDay);
    CHECK(TrimCache(c.settings, c.files, 3 * 39));
    CHECK(c.Content().empty());
    CHECK(std::filesystem::exists(c.dir.File("quorveld.dat")));
  }
  SUBCASE("a stale list file is overwritten") {
    c.dir.Write("quorveld.lst", std::string(5000, 'x'));
    CHECK(TrimCache(c.settings, c.files, head));
    CHECK(c.Content() == kNextDay);
    CHECK_FALSE(c.ListExists());
  }
  SUBCASE("a large tail is copied whole") {
    std::string tail;
    for (int i = 0; i < 5000; ++i) tail += i % 2 ? kOtherBox : kNextDay;
    c.dir.Write("quorveld.dat", kLine1 + tail);
    CHECK(TrimCache(c.settings, c.files, 39));
    CHECK(c.Content() == tail);
  }
}

TEST_CASE("a trim that cannot finish leaves the cache whole") {
  const std::string all = kLine1 + kLine2 + kNextDay;
  Cache c(all);
  SUBCASE("the cache is held elsewhere, so it cannot be replaced") {
    c.files.replaceFails = true;
    CHECK_FALSE(TrimCache(c.settings, c.files, 39));
  }
  SUBCASE("the copy cannot be committed to the disk") {
    c.files.commitFails = true;
    CHECK_FALSE(TrimCache(c.settings, c.files, 39));
  }
  SUBCASE("a count beyond the end of the file") {
    CHECK_FALSE(TrimCache(c.settings, c.files, 3 * 39 + 1));
  }
  SUBCASE("a negative count") {
    CHECK_FALSE(TrimCache(c.settings, c.files, -1));
  }
  CHECK(c.Content() == all);
  CHECK_FALSE(c.ListExists());
}

TEST_CASE("trimming a missing cache creates nothing") {
  Cache c;
  CHECK_FALSE(TrimCache(c.settings, c.files, 0));
  CHECK_FALSE(std::filesystem::exists(c.dir.File("quorveld.dat")));
  CHECK_FALSE(c.ListExists());
}

}  // namespace
}  // namespace quorvel
