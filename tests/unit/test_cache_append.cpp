#include <doctest.h>

#include "service/store/local_store.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::FakePlatform;
using testing::TempDir;

constexpr const char* kLine1 = "0123456789abcd,20070122,13,00012,00034";
constexpr const char* kLine2 = "0123456789abcd,20070122,14,00001,00002";
constexpr const char* kLine3 = "0123456789abcd,20070122,15,00005,00006";

// The real file system, except that while `diskFull` is set the cache opens as a stream that
// takes no bytes. What a failing write managed to put down is written into the file by the
// test, so the stream is opened without denying writes.
class FullDisk : public FileSystem {
 public:
  explicit FullDisk(FileSystem& real) : real_(real) {}
  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override {
    if (diskFull && std::string(mode) == "ab") return real_.Open(path, "rb", false);
    return real_.Open(path, mode, denyWrite);
  }
  bool Commit(std::FILE* file) override { return real_.Commit(file); }
  bool Replace(const std::string& source, const std::string& target) override {
    return real_.Replace(source, target);
  }
  bool Exists(const std::string& path) override { return real_.Exists(path); }
  bool Remove(const std::string& path) override { return real_.Remove(path); }
  bool Truncate(const std::string& path, std::int64_t size) override {
    return !truncateFails && real_.Truncate(path, size);
  }
  bool diskFull = false;
  bool truncateFails = false;

 private:
  FileSystem& real_;
};

TEST_CASE("a failed cache append leaves no part of its line behind") {
  TempDir dir;
  FakePlatform fakes;
  FullDisk files{*fakes.files};
  Settings settings;
  settings.LocalDir = dir.ServicePath();
  LocalStore store{settings, files};
  const std::string whole = std::string(kLine1) + "\n";
  dir.Write("quorveld.dat", whole);
  files.diskFull = true;
  REQUIRE(store.OpenCache(true));
  // The disk took the first bytes of the line, then ran out.
  dir.Write("quorveld.dat", whole + "0123456789abcd,2007");

  SUBCASE("the line after it starts on a line of its own") {
    files.diskFull = false;  // space came back just after the failed write
    CHECK_FALSE(store.AppendCacheLine(kLine2));
    CHECK(dir.Read("quorveld.dat") == whole);
    CHECK(store.IsCacheOpenForWriting());
    CHECK(store.AppendCacheLine(kLine3));
    CHECK(dir.Read("quorveld.dat") == whole + kLine3 + "\n");
  }
  SUBCASE("a cache that cannot be cut back stays closed") {
    files.truncateFails = true;
    CHECK_FALSE(store.AppendCacheLine(kLine2));
    CHECK_FALSE(store.IsCacheOpen());
    CHECK_FALSE(store.AppendCacheLine(kLine3));
  }
}

}  // namespace
}  // namespace quorvel
