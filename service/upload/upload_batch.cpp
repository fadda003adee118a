#include "service/upload/upload_batch.h"

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "service/upload/cache_line.h"

namespace quorvel {
namespace {

constexpr std::size_t kLineLimit = 255;  // characters of a cache line that are looked at
constexpr int kHours = 24;
constexpr std::size_t kCopyBuffer = 64 * 1024;

// Reads one line up to and including its line feed. Returns the bytes consumed (0 at the end
// of the file); `line` receives at most kLineLimit characters of it, without the line feed.
std::int64_t ReadLine(std::FILE* file, std::string& line) {
  line.clear();
  std::int64_t consumed = 0;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    ++consumed;
    if (c == '\n') break;
    if (line.size() < kLineLimit) line += static_cast<char>(c);
  }
  return consumed;
}

void PutHex(char* at, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i, value >>= 4) at[i] = "0123456789abcdef"[value & 0xF];
}

void PutDecimal(char* at, std::uint32_t value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

struct HourSums {
  std::uint32_t count1[kHours] = {};
  std::uint32_t count2[kHours] = {};
  // Every line counts: two partial records of one hour, or the hour repeated when the clocks
  // go back, may carry the same counts. A box's repeat of records already stored never
  // reaches the cache (see BoxMemory).
  void Add(std::uint32_t hour, std::uint32_t c1, std::uint32_t c2) {
    count1[hour] += c1;
    count2[hour] += c2;
  }
};

void WriteBatch(std::uint64_t serial, std::uint32_t date, const HourSums& sums,
                UploadBatch& batch) {
  char* text = batch.text.data();
  PutHex(text, serial, 14);
  // "%08u": a date of more than eight digits would not fit the layout; its low digits do.
  PutDecimal(text + 14, date, 8);
  for (int h = 0; h < kHours; ++h) {
    PutHex(text + 22 + 16 * h, sums.count1[h], 8);
    PutHex(text + 30 + 16 * h, sums.count2[h], 8);
  }
  batch.text[UploadBatch::kLength] = '\0';
}

// Sums the run of lines at the head of `file` that share the first line's serial and date.
std::int64_t ReadBatch(std::FILE* file, UploadBatch& batch) {
  std::string line;
  CacheFields fields;
  std::int64_t headCount = ReadLine(file, line);
  int yielded = ScanCacheLine(line, fields);
  if (yielded < 5) return headCount;  // a bad first line: dropped without a send

  const std::uint64_t serial = fields.serial;
  const std::uint32_t date = fields.date;
  HourSums sums;
  for (;;) {
    if (yielded == 5 && fields.hour < kHours) sums.Add(fields.hour, fields.count1, fields.count2);
    const std::int64_t length = ReadLine(file, line);
    if (length == 0) break;
    yielded = ScanCacheLine(line, fields);
    if (fields.date != date || fields.serial != serial) break;
    headCount += length;
  }
  WriteBatch(serial, date, sums, batch);
  return headCount;
}

bool CopyRest(std::FILE* from, std::FILE* to) {
  std::vector<char> buffer(kCopyBuffer);
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), from);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, to) != n) return false;
    if (n < buffer.size()) return std::ferror(from) == 0;
  }
}

std::int64_t FileSize(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  return static_cast<std::int64_t>(std::ftell(file));
}

}  // namespace

std::int64_t BuildUploadBatch(LocalStore& store, UploadBatch& batch) {
  batch.text.fill('\0');
  // A stream left open for appending would read nothing, and its head count would not
  // describe the file; the batch is only ever read from a fresh stream opened for reading.
  if (store.IsCacheOpenForWriting()) store.CloseCache();
  if (!store.OpenCache(/*forWriting=*/false)) return 0;
  std::FILE* file = store.CacheStream();
  std::rewind(file);
  const std::int64_t headCount = ReadBatch(file, batch);
  store.CloseCache();
  return headCount;
}

bool TrimCache(const Settings& settings, FileSystem& files, std::int64_t headCount) {
  const LocalStore store(settings, files);
  const std::string cachePath = store.CachePath();
  const std::string listPath = store.ListPath();

  FileHandle cache = files.Open(cachePath, "rb", /*denyWrite=*/false);
  if (!cache) return false;
  // A count beyond the end would mean the cache is not the file the batch was read from.
  if (headCount < 0 || headCount > LONG_MAX || FileSize(cache.get()) < headCount) return false;
  FileHandle list = files.Open(listPath, "wb", /*denyWrite=*/true);
  if (!list) return false;

  const bool copied = std::fseek(cache.get(), static_cast<long>(headCount), SEEK_SET) == 0 &&
                      CopyRest(cache.get(), list.get()) && files.Commit(list.get());
  cache.reset();
  list.reset();
  // The old cache goes only in the same step as the new one takes its name: whatever fails,
  // the cache on disk stays whole.
  if (copied && files.Replace(listPath, cachePath)) return true;
  files.Remove(listPath);
  return false;
}

}  // namespace quorvel
