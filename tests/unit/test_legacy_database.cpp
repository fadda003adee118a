#include <doctest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "service/upload/legacy_database.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::MemoryProfileStore;
using testing::TempDir;

struct Record {
  int total, month, day, year, hour;
};

std::string Bytes16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string Encode(const Record& r) {
  return Bytes16(static_cast<unsigned>(r.total)) + static_cast<char>(r.month) +
         static_cast<char>(r.day) + Bytes16(static_cast<unsigned>(r.year)) +
         Bytes16(static_cast<unsigned>(r.hour));
}

// The 14 header bytes after the count belong to the other application.
const std::string kHeaderRest = "LEGACY-HEADER!";

std::string Database(unsigned count, const std::vector<Record>& records) {
  std::string bytes = Bytes16(count) + kHeaderRest;
  for (const Record& r : records) bytes += Encode(r);
  return bytes;
}

const std::string kZeroRecords(16, '\0');

// A batch of 2007-01-22 with the given (hour, count1, count2) sums.
UploadBatch Batch(const std::vector<std::vector<unsigned>>& hours,
                  const std::string& head = "0123456789abcd20070122") {
  std::string text = head + std::string(384, '0');
  char group[17];
  for (const auto& h : hours) {
    std::snprintf(group, sizeof group, "%08x%08x", h[1], h[2]);
    text.replace(22 + 16 * h[0], 16, group);
  }
  UploadBatch batch;
  text.copy(batch.text.data(), text.size());
  return batch;
}

struct Legacy {
  TempDir dir;
  MemoryProfileStore profiles;
  std::unique_ptr<FileSystem> files = MakeSystemFileSystem();

  Legacy() {
    profiles.Set("rcs.ini", "Database", dir.ServicePath() + "\\counts.db", "Preferences");
  }
  bool Merge(const UploadBatch& batch) { return MergeIntoLegacyDatabase(batch, profiles, *files); }
  std::string Content() const { return dir.Read("counts.db"); }
};

const Record kOtherDay{5, 1, 21, 7, 13};

TEST_CASE("hours without a record for the day are appended after the last record") {
  Legacy db;
  db.dir.Write("counts.db", Database(5, std::vector<Record>(5, kOtherDay)) + kZeroRecords);

  CHECK(db.Merge(Batch({{2, 1, 0}, {13, 13, 36}, {23, 0, 0}})));
  CHECK(db.Content() == Database(7, std::vector<Record>(5, kOtherDay)) + Encode({1, 1, 22, 7, 2}) +
                            Encode({49, 1, 22, 7, 13}) + kZeroRecords);
  CHECK(db.profiles.writes == std::vector<std::string>{"rcs.ini/Communication/Port=668"});

  SUBCASE("merging the same batch again adds to those records") {
    CHECK(db.Merge(Batch({{2, 1, 0}, {13, 13, 36}})));
    CHECK(db.Content() == Database(7, std::vector<Record>(5, kOtherDay)) +
                              Encode({2, 1, 22, 7, 2}) + Encode({98, 1, 22, 7, 13}) + kZeroRecords);
  }
  SUBCASE("a total that is 0 in 16 bits appends nothing") {
    db.dir.Write("counts.db", Database(0, {}));
    CHECK(db.Merge(Batch({{4, 0x10000, 0}, {5, 0xFFFF, 1}})));
    CHECK(db.Content() == Database(0, {}) + kZeroRecords);
  }
}

TEST_CASE("existing records of the day are found by date and hour") {
  Legacy db;
  SUBCASE("years below 1990 count from 2000") {
    db.dir.Write("counts.db", Database(2, {{100, 1, 22, 7, 13}, {100, 1, 22, 2007, 14}}));
    db.Merge(Batch({{13, 1, 1}, {14, 2, 2}}));
    CHECK(db.Content() ==
          Database(2, {{102, 1, 22, 7, 13}, {104, 1, 22, 2007, 14}}) + kZeroRecords);
  }
  SUBCASE("a stored 1999 matches 1999") {
    db.dir.Write("counts.db", Database(1, {{100, 12, 31, 1999, 0}}));
    db.Merge(Batch({{0, 5, 0}}, "0123456789abcd19991231"));
    CHECK(db.Content() == Database(1, {{105, 12, 31, 1999, 0}}) + kZeroRecords);
  }
  SUBCASE("only the later of two records for the same hour grows") {
    db.dir.Write("counts.db", Database(2, {{10, 1, 22, 7, 13}, {20, 1, 22, 7, 13}}));
    db.Merge(Batch({{13, 3, 4}}));
    CHECK(db.Content() == Database(2, {{10, 1, 22, 7, 13}, {27, 1, 22, 7, 13}}) + kZeroRecords);
  }
  SUBCASE("an hour whose sums are both 0 leaves its record alone") {
    db.dir.Write("counts.db", Database(1, {{10, 1, 22, 7, 13}}));
    db.Merge(Batch({}));
    CHECK(db.Content() == Database(1, {{10, 1, 22, 7, 13}}) + kZeroRecords);
  }
  SUBCASE("totals wrap at 16 bits") {
    db.dir.Write("counts.db", Database(1, {{0xFFFF, 1, 22, 7, 13}}));
    db.Merge(Batch({{13, 2, 0}}));
    CHECK(db.Content() == Database(1, {{1, 1, 22, 7, 13}}) + kZeroRecords);
  }
}

TEST_CASE("nothing is touched without a usable date, database name or database file") {
  Legacy db;
  db.dir.Write("counts.db", Database(0, {}));
  SUBCASE("a zero month") {
    CHECK_FALSE(db.Merge(Batch({{1, 1, 1}}, "0123456789abcd20070022")));
  }
  SUBCASE("no Database key") {
    db.profiles.values.clear();
    CHECK_FALSE(db.Merge(Batch({{1, 1, 1}})));
  }
  SUBCASE("a database file that does not exist") {
    db.profiles.Set("rcs.ini", "Database", db.dir.ServicePath() + "\\missing.db", "Preferences");
    CHECK_FALSE(db.Merge(Batch({{1, 1, 1}})));
    CHECK_FALSE(std::filesystem::exists(db.dir.File("missing.db")));
  }
  CHECK(db.profiles.writes.empty());
  CHECK(db.Content() == Database(0, {}));
}

TEST_CASE("short and oversized database files are handled without damage") {
  Legacy db;
  SUBCASE("shorter than the header: left as it is") {
    const std::string shortFile("\x03\x00LEG", 5);
    db.dir.Write("counts.db", shortFile);
    CHECK_FALSE(db.Merge(Batch({{1, 1, 1}})));
    CHECK(db.Content() == shortFile);
  }
  SUBCASE("a truncated last slot is not a record") {
    db.dir.Write("counts.db", Database(1, {{10, 1, 22, 7, 13}}) + std::string("\x05\x00\x01", 3));
    CHECK(db.Merge(Batch({{13, 1, 0}, {14, 1, 0}})));
    CHECK(db.Content() == Database(2, {{11, 1, 22, 7, 13}, {1, 1, 22, 7, 14}}) + kZeroRecords);
  }
  SUBCASE("a full database takes no more records and its count does not wrap") {
    std::vector<Record> records(0xFFFF, kOtherDay);
    records[0xFFFF - 1] = {10, 1, 22, 7, 13};
    db.dir.Write("counts.db", Database(0xFFFF, records));
    CHECK(db.Merge(Batch({{13, 5, 0}, {2, 1, 0}})));
    records[0xFFFF - 1].total = 15;
    CHECK(db.Content() == Database(0xFFFF, records) + kZeroRecords);
  }
  SUBCASE("a record past the counted ones is not updated: the append overwrites it") {
    // Counts added to the stray record at slot 2 would vanish under the new record 2.
    db.dir.Write("counts.db", Database(1, {kOtherDay, {10, 1, 22, 7, 13}}));
    CHECK(db.Merge(Batch({{13, 5, 1}})));
    CHECK(db.Content() == Database(2, {kOtherDay, {6, 1, 22, 7, 13}}) + kZeroRecords);
  }
  SUBCASE("a count the file does not hold: left as it is") {
    const std::string file = Database(5, {kOtherDay});
    db.dir.Write("counts.db", file);
    CHECK_FALSE(db.Merge(Batch({{13, 1, 1}})));
    CHECK(db.Content() == file);
  }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

using testing::TempDir;

// rcs.ini as a file that the profile functions rewrite in place: emptied, then written out.
// A kill can come in between.
class RewrittenInPlace : public testing::MemoryProfileStore {
 public:
  explicit RewrittenInPlace(const TempDir& dir) : dir_(dir) {}
  std::string PathOf(const std::string& file) override { return dir_.ServicePath() + "\\" + file; }
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override {
    dir_.Write(file, "");
    if (killedWhileWriting) throw Killed{};
    if (diskFull) return false;
    dir_.Write(file, Text() + section + "]" + key + "=" + value + "\n");
    return MemoryProfileStore::WriteString(file, section, key, value);
  }
  std::string Text() const { return "[Preferences]Database=C:\\rcs\\counts.db\n"; }
  std::string LastErrorText() override { return "There is not enough space on the disk."; }
  struct Killed {};
  bool killedWhileWriting = false;
  bool diskFull = false;  // the file is emptied, then the write fails

 private:
  const TempDir& dir_;
};

TEST_CASE("rcs.ini outlives a kill while its Port entry is written") {
  TempDir windows, local;
  RewrittenInPlace profiles(windows);
  windows.Write("rcs.ini", profiles.Text());
  std::unique_ptr<FileSystem> files = MakeSystemFileSystem();
  const std::string copy = local.ServicePath() + "\\rcs.ini.copy";

  SUBCASE("the entry written, the copy gone; not written again while it is 668") {
    CHECK_FALSE(NoteLegacyDatabaseUse(profiles, *files, copy));
    CHECK_FALSE(NoteLegacyDatabaseUse(profiles, *files, copy));
    CHECK(profiles.writes == std::vector<std::string>{"rcs.ini/Communication/Port=668"});
    CHECK_FALSE(files->Exists(copy));
  }
  SUBCASE("killed with the file emptied: the next start puts it back") {
    profiles.killedWhileWriting = true;
    CHECK_THROWS_AS(NoteLegacyDatabaseUse(profiles, *files, copy), RewrittenInPlace::Killed);
    REQUIRE(windows.Read("rcs.ini").empty());
    RestoreLegacyProfile(profiles, *files, copy);
    CHECK(windows.Read("rcs.ini") == profiles.Text());
    CHECK_FALSE(files->Exists(copy));
  }
  SUBCASE("the write fails part way: the file is put back and the failure told") {
    profiles.diskFull = true;
    const auto failure = NoteLegacyDatabaseUse(profiles, *files, copy);
    REQUIRE(failure);
    CHECK(failure->file == windows.ServicePath() + "\\rcs.ini");
    CHECK(failure->reason == "There is not enough space on the disk.");
    CHECK(windows.Read("rcs.ini") == profiles.Text());
    CHECK_FALSE(files->Exists(copy));
  }
  SUBCASE("no copy can be made: the file is left alone until a later merge") {
    const std::string unreachable = local.ServicePath() + "\\missing\\rcs.ini.copy";
    const auto failure = NoteLegacyDatabaseUse(profiles, *files, unreachable);
    REQUIRE(failure);
    CHECK(failure->file == unreachable);
    CHECK(profiles.writes.empty());
    CHECK(windows.Read("rcs.ini") == profiles.Text());
  }
}

}  // namespace
}  // namespace quorvel
