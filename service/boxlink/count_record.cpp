#include "service/boxlink/count_record.h"

#include <cstdio>

#include "service/boxlink/hex_fields.h"

namespace quorvel {
namespace {

std::uint32_t LowByte(std::uint32_t v) {
  return v & 0xFF;
}
std::uint32_t HighByte(std::uint32_t v) {
  return (v >> 8) & 0xFF;
}

// Two-digit years from 90 up are taken for the 1990s.
unsigned FourDigitYear(std::uint32_t year) {
  return year >= 90 ? 1900 + year : 2000 + year;
}

}  // namespace

void CountRecord::Clear() {
  *this = CountRecord{};
}

void CountRecord::ParseRecord(const char* line) {
  Clear();
  static constexpr int kTwoCountWidths[] = {2, 2, 2, 2, 4, 4, 2};
  unsigned fields[7] = {};
  if (ScanHexFields(line, kTwoCountWidths, 7, fields) == 7) {
    hour = fields[0];
    day = fields[1];
    month = fields[2];
    year = fields[3];
    firstCount = fields[4];
    secondCount = fields[5];
    checksum = fields[6] + HighByte(secondCount) + LowByte(secondCount);
  } else {
    // The one-count form, or no record at all: whatever could be read is summed.
    static constexpr int kOneCountWidths[] = {2, 2, 2, 2, 4, 2};
    unsigned oneCount[6] = {};
    ScanHexFields(line, kOneCountWidths, 6, oneCount);
    hour = oneCount[0];
    day = oneCount[1];
    month = oneCount[2];
    year = oneCount[3];
    firstCount = oneCount[4];
    checksum = oneCount[5];
  }
  checksum += HighByte(firstCount) + LowByte(firstCount) + LowByte(year) + LowByte(day) +
              LowByte(month) + LowByte(hour);
}

bool CountRecord::ChecksumOk() const {
  return LowByte(checksum) == 0xFF;
}

bool CountRecord::IsPlausible() const {
  return day <= 31 && month <= 12;
}

std::string CountRecord::FormatRecord() const {
  char text[64];
  std::snprintf(text, sizeof text, "%04u%02u%02u,%02u,%05u,%05u", FourDigitYear(year),
                static_cast<unsigned>(month), static_cast<unsigned>(day),
                static_cast<unsigned>(hour), static_cast<unsigned>(firstCount),
                static_cast<unsigned>(secondCount));
  return text;
}

}  // namespace quorvel
