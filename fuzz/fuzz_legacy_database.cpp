// The older counting application's database: MergeIntoLegacyDatabase on a file made from
// the input (short, malformed, any record count) with a batch that is fixed or made from the
// input.
//
// Input: a flag byte, then
//   bit 0 set: the batch date (two bytes of year, 1990 to 2155, or 0 when bit 1 is set; a month
//     byte and a day byte, each taken modulo 100) and a byte k followed by k entries of an
//     hour byte (modulo 24) and two 32-bit sums; otherwise the fixed batch;
//   bit 2 set: 406 raw bytes of batch text instead (structure checks only);
//   bit 3 set: rcs.ini names no database;
// and the rest is the database file.
// Checks: a merge that reports nothing done changed nothing; one that did keeps the 14 other
// header bytes and every record of other days, and leaves each hour of the batch day with
// exactly the total the old records and the batch give.
#include <array>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/upload/legacy_database.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using quorvel::UploadBatch;
using quorvel::testing::TempDir;

constexpr int kHours = 24;
constexpr std::uint32_t kMostRecords = 0xFFFF;

struct Day {
  unsigned year = 0, month = 0, day = 0;
  std::uint32_t count1[kHours] = {}, count2[kHours] = {};
};

struct Slot {
  std::uint16_t total, year, hour;
  std::uint8_t month, day;
};

std::uint16_t Get16(const std::string& file, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(file[at]) |
                                    static_cast<std::uint8_t>(file[at + 1]) << 8);
}

// Record k (from 1) when the file holds all of it.
std::optional<Slot> SlotAt(const std::string& file, std::uint32_t k) {
  const std::size_t at = 8 * static_cast<std::size_t>(k) + 8;
  if (at + 8 > file.size()) return std::nullopt;
  return Slot{Get16(file, at), Get16(file, at + 4), Get16(file, at + 6),
              static_cast<std::uint8_t>(file[at + 2]), static_cast<std::uint8_t>(file[at + 3])};
}

bool OfDay(const Slot& s, const Day& day) {
  const unsigned year = s.year < 1990 ? s.year + 2000u : s.year;
  return year == day.year && s.month == day.month && s.day == day.day && s.hour < kHours;
}

// For each hour, the last of records 1..count of the day, as the legacy application sees them.
using HourIndex = std::array<std::optional<std::uint32_t>, kHours>;
HourIndex LastOfDay(const std::string& file, std::uint32_t count, const Day& day) {
  HourIndex last;
  const std::size_t slotsInFile = file.size() < 16 ? 0 : (file.size() - 16) / 8;
  for (std::uint32_t k = 1; k <= count && k <= slotsInFile; ++k) {
    const auto s = SlotAt(file, k);
    if (s && OfDay(*s, day)) last[s->hour] = k;
  }
  return last;
}

UploadBatch BatchOf(const Day& day) {
  char text[UploadBatch::kLength + 1];
  int at =
      std::snprintf(text, sizeof text, "0123456789abcd%04u%02u%02u", day.year, day.month, day.day);
  for (int h = 0; h < kHours; ++h)
    at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), "%08x%08x",
                        day.count1[h], day.count2[h]);
  UploadBatch batch;
  std::memcpy(batch.text.data(), text, UploadBatch::kLength);
  return batch;
}

Day DayFrom(quorvel::fuzz::InputReader& input, bool zeroYear) {
  Day day;
  const unsigned yearBits = input.Byte() | input.Byte() << 8;
  day.year = zeroYear ? 0 : 1990 + yearBits % 166;
  day.month = input.Byte() % 100;
  day.day = input.Byte() % 100;
  for (int entries = input.Byte(); entries > 0; --entries) {
    const int hour = input.Byte() % kHours;
    day.count1[hour] = input.Word();
    day.count2[hour] = input.Word();
  }
  return day;
}

Day FixedDay() {
  Day day;
  day.year = 2007, day.month = 1, day.day = 22;
  day.count1[13] = 12, day.count2[13] = 34;
  day.count1[14] = 0xFFFF, day.count2[14] = 1;  // 65536: nothing to append
  day.count1[15] = 5;
  return day;
}

// Every hour of the batch day ends with the total the old records and the batch give.
void CheckDay(const std::string& before, const std::string& after, const Day& day) {
  std::uint32_t count = Get16(before, 0);
  const HourIndex oldIndex = LastOfDay(before, count, day);
  const HourIndex newIndex = LastOfDay(after, Get16(after, 0), day);
  for (int h = 0; h < kHours; ++h) {
    const std::uint32_t sum = day.count1[h] + day.count2[h];
    const auto old = oldIndex[h];
    std::optional<std::uint16_t> expected;
    if (old) {
      const std::uint16_t total = SlotAt(before, *old)->total;
      expected =
          static_cast<std::int32_t>(sum) > 0 ? static_cast<std::uint16_t>(total + sum) : total;
    } else if ((sum & 0xFFFF) != 0 && count < kMostRecords) {
      expected = static_cast<std::uint16_t>(sum);
      ++count;
    }
    const auto now = newIndex[h];
    FUZZ_CHECK(now.has_value() == expected.has_value(), "hour %d: record %s, expected %s", h,
               now ? "present" : "missing", expected ? "one" : "none");
    if (now)
      FUZZ_CHECK(SlotAt(after, *now)->total == *expected, "hour %d: total %u, expected %u", h,
                 SlotAt(after, *now)->total, *expected);
  }
  FUZZ_CHECK(Get16(after, 0) == count, "record count %u, expected %u", Get16(after, 0), count);
}

void CheckMerged(const std::string& before, const std::string& after,
                 const std::optional<Day>& day) {
  FUZZ_CHECK(before.size() >= 16 && after.size() >= before.size(),
             "merged into a %zu-byte file, now %zu bytes", before.size(), after.size());
  FUZZ_CHECK(before.compare(2, 14, after, 2, 14) == 0, "header bytes 2 to 15 changed");
  const std::uint32_t oldCount = Get16(before, 0);
  FUZZ_CHECK(Get16(after, 0) >= oldCount && Get16(after, 0) <= oldCount + kHours,
             "record count %u after %u", Get16(after, 0), oldCount);
  if (!day) return;
  for (std::uint32_t k = 1; k <= oldCount; ++k) {
    const auto s = SlotAt(before, k);
    if (!s || OfDay(*s, *day)) continue;
    FUZZ_CHECK(before.compare(8 * k + 8, 8, after, 8 * k + 8, 8) == 0,
               "record %u of another day changed", k);
  }
  CheckDay(before, after, *day);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir;
  quorvel::fuzz::InputReader input(data, size);
  const std::uint8_t flags = input.Byte();
  std::optional<Day> day = FixedDay();
  if (flags & 1) day = DayFrom(input, (flags & 2) != 0);
  UploadBatch batch = BatchOf(*day);
  if (flags & 4) {
    const std::string raw = input.Bytes(UploadBatch::kLength);
    std::memcpy(batch.text.data(), raw.data(), raw.size());
    day.reset();
  }
  const std::string before = input.Rest();
  dir.Write("legacy.db", before);

  quorvel::testing::FakePlatform fake;
  if ((flags & 8) == 0)
    fake.profiles.Set("rcs.ini", "Database", dir.ServicePath() + "\\legacy.db", "Preferences");
  const bool merged = quorvel::MergeIntoLegacyDatabase(batch, fake.profiles, *fake.files);
  const std::string after = dir.Read("legacy.db");
  if (!merged) {
    FUZZ_CHECK(after == before, "nothing merged, yet the file changed");
    return 0;
  }
  FUZZ_CHECK((flags & 8) == 0, "merged without a database");
  FUZZ_CHECK(fake.profiles.writes.size() == 1 &&
                 fake.profiles.writes[0] == "rcs.ini/Communication/Port=668",
             "rcs.ini not told");
  CheckMerged(before, after, day);
  return 0;
}
