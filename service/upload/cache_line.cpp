#include "service/upload/cache_line.h"

#include "service/upload/hex_digit.h"

namespace quorvel {
namespace {

// One unsigned number at `pos` (blanks before it skipped); false when no digit is there.
// Like the C runtime's scanner the value wraps instead of failing on overflow.
template <typename T>
bool ScanNumber(std::string_view line, std::size_t& pos, int base, T& value) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  T result = 0;
  const std::size_t start = pos;
  for (; pos < line.size(); ++pos) {
    const int digit = HexDigitValue(line[pos]);
    if (digit < 0 || digit >= base) break;
    result = static_cast<T>(result * static_cast<T>(base) + static_cast<T>(digit));
  }
  if (pos == start) return false;
  value = result;
  return true;
}

}  // namespace

int ScanCacheLine(std::string_view line, CacheFields& fields) {
  std::size_t pos = 0;
  const auto separator = [&] { return pos < line.size() && line[pos++] == ','; };
  if (!ScanNumber(line, pos, 16, fields.serial)) return 0;
  if (!separator() || !ScanNumber(line, pos, 10, fields.date)) return 1;
  if (!separator() || !ScanNumber(line, pos, 10, fields.hour)) return 2;
  if (!separator() || !ScanNumber(line, pos, 10, fields.count1)) return 3;
  if (!separator() || !ScanNumber(line, pos, 10, fields.count2)) return 4;
  return 5;
}

}  // namespace quorvel
