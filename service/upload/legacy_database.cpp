#include "service/upload/legacy_database.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "service/platform/file_contents.h"
#include "service/upload/hex_digit.h"

namespace quorvel {
namespace {

constexpr const char* kLegacyProfile = "rcs.ini";
constexpr const char* kPortInUse = "668";
constexpr std::size_t kPathCapacity = 260;
constexpr long kHeaderSize = 16;
constexpr long kRecordSize = 8;
// The header counts records in 16 bits; a full database takes no more.
constexpr std::uint32_t kMostRecords = 0xFFFF;
constexpr int kHours = 24;

struct BatchDate {
  unsigned year = 0, month = 0, day = 0;
};

struct HourRecord {
  std::uint16_t total = 0;
  std::uint8_t month = 0, day = 0;
  std::uint16_t year = 0, hour = 0;
};

using RecordBytes = std::array<unsigned char, kRecordSize>;

// Up to `width` leading digits at `at` in `base`; 0 when there are none.
std::uint32_t BatchNumber(const UploadBatch& batch, std::size_t at, std::size_t width, int base) {
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + width && i < UploadBatch::kLength; ++i) {
    const int digit = HexDigitValue(batch.text[i]);
    if (digit < 0 || digit >= base) break;
    value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::uint32_t Count1Sum(const UploadBatch& batch, int hour) {
  return BatchNumber(batch, 22 + 16 * hour, 8, 16);
}
std::uint32_t Count2Sum(const UploadBatch& batch, int hour) {
  return BatchNumber(batch, 30 + 16 * hour, 8, 16);
}

BatchDate DateOf(const UploadBatch& batch) {
  return {BatchNumber(batch, 14, 4, 10), BatchNumber(batch, 18, 2, 10),
          BatchNumber(batch, 20, 2, 10)};
}

std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

HourRecord Decode(const RecordBytes& b) {
  return {Get16(&b[0]), b[2], b[3], Get16(&b[4]), Get16(&b[6])};
}

RecordBytes Encode(const HourRecord& r) {
  RecordBytes b{};
  Put16(&b[0], r.total);
  b[2] = r.month;
  b[3] = r.day;
  Put16(&b[4], r.year);
  Put16(&b[6], r.hour);
  return b;
}

bool ReadAt(std::FILE* file, long offset, unsigned char* into, std::size_t size) {
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(into, 1, size, file) == size;
}

long RecordOffset(std::uint32_t slot) {
  return kRecordSize * static_cast<long>(slot) + 8;
}

// Years below 1990 are stored as years since 2000.
unsigned FullYear(std::uint16_t stored) {
  return stored < 1990 ? stored + 2000u : stored;
}

RecordBytes RecordAt(const std::string& image, std::uint32_t slot) {
  RecordBytes bytes;
  std::copy_n(image.begin() + RecordOffset(slot), kRecordSize, bytes.begin());
  return bytes;
}

// For each hour of the batch day, the number of the last record holding it; 0 for none.
// Only the `count` records the header counts are looked at: a slot past them (the zero
// records, or anything left behind) is overwritten by the append, so counts added to it
// would be lost.
std::array<std::uint32_t, kHours> IndexDay(const std::string& image, const BatchDate& date,
                                           std::uint32_t count) {
  std::array<std::uint32_t, kHours> index{};
  for (std::uint32_t slot = 1; slot <= count; ++slot) {
    const HourRecord r = Decode(RecordAt(image, slot));
    if (FullYear(r.year) == date.year && r.month == date.month && r.day == date.day &&
        r.hour < kHours)
      index[r.hour] = slot;
  }
  return index;
}

std::string AsText(const unsigned char* bytes, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes), size);
}

// The bytes a run overwrites; a run reaching past the end keeps only what the file held.
ByteRun OriginalOf(const ByteRun& write, const std::string& image, std::int64_t length) {
  ByteRun original{write.offset, ""};
  const std::int64_t end =
      std::min<std::int64_t>(length, write.offset + static_cast<std::int64_t>(write.bytes.size()));
  if (end > write.offset)
    original.bytes = image.substr(static_cast<std::size_t>(write.offset),
                                  static_cast<std::size_t>(end - write.offset));
  return original;
}

}  // namespace

std::string LegacyDatabasePath(ProfileStore& profiles) {
  return profiles.GetString(kLegacyProfile, "Preferences", "Database", "", kPathCapacity);
}

std::optional<WriteFailure> NoteLegacyDatabaseUse(ProfileStore& profiles, FileSystem& files,
                                                  const std::string& copyPath) {
  if (profiles.GetString(kLegacyProfile, "Communication", "Port", "", kPathCapacity) == kPortInUse)
    return std::nullopt;
  const std::string path = profiles.PathOf(kLegacyProfile);
  const bool guarded = !path.empty() && files.Exists(path);
  // Without its copy the entry is not written now; the next merge tries again.
  if (guarded && !KeepCommittedCopy(files, path, copyPath))
    return WriteFailure{copyPath, files.LastErrorText()};
  if (!profiles.WriteString(kLegacyProfile, "Communication", "Port", kPortInUse)) {
    const WriteFailure failure{path.empty() ? kLegacyProfile : path, profiles.LastErrorText()};
    if (guarded) RestoreCommittedCopy(files, path, copyPath);
    return failure;
  }
  if (guarded) DropCommittedCopy(files, path, copyPath);
  return std::nullopt;
}

void RestoreLegacyProfile(ProfileStore& profiles, FileSystem& files, const std::string& copyPath) {
  if (!files.Exists(copyPath)) return;
  const std::string path = profiles.PathOf(kLegacyProfile);
  // A cut here leaves the copy for the next start.
  if (!path.empty()) RestoreCommittedCopy(files, path, copyPath);
}

bool HasLegacyDate(const UploadBatch& batch) {
  const BatchDate date = DateOf(batch);
  return date.year != 0 && date.month != 0 && date.day != 0;
}

std::optional<LegacyMergePlan> PlanLegacyMerge(const UploadBatch& batch, std::FILE* file) {
  if (!HasLegacyDate(batch)) return std::nullopt;
  const BatchDate date = DateOf(batch);

  // Without a whole header, or with a record count the file does not hold, there is no
  // count to trust: appending would write past the end and count stray bytes as records.
  unsigned char header[2];
  if (std::fseek(file, 0, SEEK_END) != 0) return std::nullopt;
  const long size = std::ftell(file);
  if (size < kHeaderSize || !ReadAt(file, 0, header, sizeof header)) return std::nullopt;
  std::uint32_t count = Get16(header);
  const long recordsEnd = kHeaderSize + kRecordSize * static_cast<long>(count);
  if (size < recordsEnd) return std::nullopt;
  // The header and the counted records, and whatever lies where the append will write.
  const long imageEnd = std::min<long>(size, recordsEnd + kRecordSize * (kHours + 2));
  std::string image(static_cast<std::size_t>(imageEnd), '\0');
  if (!ReadAt(file, 0, reinterpret_cast<unsigned char*>(image.data()), image.size()))
    return std::nullopt;

  LegacyMergePlan plan;
  plan.originalLength = size;
  const auto index = IndexDay(image, date, count);
  for (int h = 0; h < kHours; ++h) {
    const auto sum = static_cast<std::int32_t>(Count1Sum(batch, h) + Count2Sum(batch, h));
    if (index[h] == 0 || sum <= 0) continue;
    HourRecord r = Decode(RecordAt(image, index[h]));
    r.total = static_cast<std::uint16_t>(r.total + static_cast<std::uint32_t>(sum));
    const RecordBytes bytes = Encode(r);
    plan.writes.push_back({RecordOffset(index[h]), AsText(bytes.data(), bytes.size())});
  }

  ByteRun appended{recordsEnd, ""};
  for (int h = 0; h < kHours; ++h) {
    if (index[h] != 0 || count >= kMostRecords) continue;
    HourRecord r;
    r.total = static_cast<std::uint16_t>(Count1Sum(batch, h) + Count2Sum(batch, h));
    if (r.total == 0) continue;
    r.month = static_cast<std::uint8_t>(date.month);
    r.day = static_cast<std::uint8_t>(date.day);
    r.year = static_cast<std::uint16_t>(date.year % 2000);
    r.hour = static_cast<std::uint16_t>(h);
    const RecordBytes bytes = Encode(r);
    appended.bytes += AsText(bytes.data(), bytes.size());
    ++count;
  }
  appended.bytes += std::string(2 * kRecordSize, '\0');
  plan.writes.push_back(appended);
  Put16(header, static_cast<std::uint16_t>(count));
  plan.writes.push_back({0, AsText(header, sizeof header)});

  for (const ByteRun& write : plan.writes) plan.originals.push_back(OriginalOf(write, image, size));
  return plan;
}

bool WriteRuns(std::FILE* file, const std::vector<ByteRun>& runs) {
  for (const ByteRun& run : runs) {
    if (run.bytes.empty()) continue;
    if (std::fseek(file, static_cast<long>(run.offset), SEEK_SET) != 0 ||
        std::fwrite(run.bytes.data(), 1, run.bytes.size(), file) != run.bytes.size())
      return false;
  }
  return std::fflush(file) == 0;
}

bool MergeIntoLegacyDatabase(const UploadBatch& batch, ProfileStore& profiles, FileSystem& files) {
  if (!HasLegacyDate(batch)) return false;
  const std::string path = LegacyDatabasePath(profiles);
  if (path.empty()) return false;
  FileHandle database = files.Open(path, "r+b", /*denyWrite=*/false);
  if (!database) return false;
  profiles.WriteString(kLegacyProfile, "Communication", "Port", kPortInUse);
  const auto plan = PlanLegacyMerge(batch, database.get());
  return plan && WriteRuns(database.get(), plan->writes) && files.Commit(database.get());
}

}  // namespace quorvel
