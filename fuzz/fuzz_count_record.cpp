// A record line from a box: ParseRecord, ChecksumOk and FormatRecord on any bytes.
// The field scanner is compared with the C runtime's scanf on the same formats, and a record
// written back out in the box's own form must read back as the same record.
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/boxlink/count_record.h"

namespace {

using quorvel::CountRecord;

// The line reading done with the C runtime's scanner, as the box link describes it.
CountRecord ScanfRecord(const char* line) {
  CountRecord r;
  unsigned f[7] = {};
  if (std::sscanf(line, " %2x %2x %2x %2x %4x %4x %2x", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5],
                  &f[6]) == 7) {
    r.hour = f[0], r.day = f[1], r.month = f[2], r.year = f[3];
    r.firstCount = f[4], r.secondCount = f[5], r.checksum = f[6];
    r.checksum += (r.secondCount >> 8) + (r.secondCount & 0xFF);
  } else {
    unsigned g[6] = {};
    std::sscanf(line, " %2x %2x %2x %2x %4x %2x", &g[0], &g[1], &g[2], &g[3], &g[4], &g[5]);
    r.hour = g[0], r.day = g[1], r.month = g[2], r.year = g[3];
    r.firstCount = g[4], r.checksum = g[5];
  }
  r.checksum += (r.firstCount >> 8) + (r.firstCount & 0xFF) + (r.year & 0xFF) + (r.day & 0xFF) +
                (r.month & 0xFF) + (r.hour & 0xFF);
  return r;
}

bool SameRecord(const CountRecord& a, const CountRecord& b) {
  return a.checksum == b.checksum && a.month == b.month && a.day == b.day && a.year == b.year &&
         a.hour == b.hour && a.firstCount == b.firstCount && a.secondCount == b.secondCount;
}

std::string Describe(const CountRecord& r) {
  char text[128];
  std::snprintf(text, sizeof text, "h=%x d=%x m=%x y=%x c1=%x c2=%x sum=%x", r.hour, r.day, r.month,
                r.year, r.firstCount, r.secondCount, r.checksum);
  return text;
}

// scanf also takes a sign and a "0x" prefix, which the box never sends and our scanner
// refuses on purpose; only lines without them are compared.
bool ComparableWithScanf(const std::string& line) {
  return line.find_first_of("+-xX") == std::string::npos;
}

// The record in the box's own form, with the checksum the box would send.
std::string BoxLine(const CountRecord& r) {
  const unsigned dataSum = (r.hour & 0xFF) + (r.day & 0xFF) + (r.month & 0xFF) + (r.year & 0xFF) +
                           (r.firstCount >> 8) + (r.firstCount & 0xFF) + (r.secondCount >> 8) +
                           (r.secondCount & 0xFF);
  char text[64];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X %04X %04X %02X", r.hour, r.day, r.month,
                r.year, r.firstCount, r.secondCount, (0xFF - dataSum) & 0xFF);
  return text;
}

void CheckFormat(const CountRecord& r) {
  const std::string text = r.FormatRecord();
  unsigned date = 0, hour = 0, first = 0, second = 0;
  char tail = 0;
  FUZZ_CHECK(std::sscanf(text.c_str(), "%u,%u,%u,%u%c", &date, &hour, &first, &second, &tail) == 4,
             "cache text '%s' of %s", text.c_str(), Describe(r).c_str());
  FUZZ_CHECK(hour == r.hour && first == r.firstCount && second == r.secondCount,
             "cache text '%s' of %s", text.c_str(), Describe(r).c_str());
  // Only plausible records reach the cache; a month or day of three digits has no place in
  // the eight-digit date.
  if (!r.IsPlausible()) return;
  const unsigned year = r.year >= 90 ? 1900 + r.year : 2000 + r.year;
  FUZZ_CHECK(date == year * 10000 + r.month * 100 + r.day, "cache text '%s' of %s", text.c_str(),
             Describe(r).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The line as the framing hands it on: its text ends at the first NUL.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string line = bytes.substr(0, std::strlen(bytes.c_str()));

  CountRecord record;
  record.ParseRecord(line.c_str());
  FUZZ_CHECK(record.hour <= 0xFF && record.day <= 0xFF && record.month <= 0xFF &&
                 record.year <= 0xFF && record.firstCount <= 0xFFFF && record.secondCount <= 0xFFFF,
             "field beyond its digits: %s", Describe(record).c_str());
  if (ComparableWithScanf(line)) {
    const CountRecord reference = ScanfRecord(line.c_str());
    FUZZ_CHECK(SameRecord(record, reference), "line '%s': ours %s, scanf %s", line.c_str(),
               Describe(record).c_str(), Describe(reference).c_str());
  }
  CheckFormat(record);

  // Whatever was read, written back in the box's form it reads back as itself and passes.
  CountRecord again;
  again.ParseRecord(BoxLine(record).c_str());
  FUZZ_CHECK(again.ChecksumOk(), "box line '%s' fails its checksum", BoxLine(record).c_str());
  FUZZ_CHECK(again.hour == record.hour && again.day == record.day && again.month == record.month &&
                 again.year == record.year && again.firstCount == record.firstCount &&
                 again.secondCount == record.secondCount,
             "box line '%s' reads back as %s", BoxLine(record).c_str(), Describe(again).c_str());
  return 0;
}
