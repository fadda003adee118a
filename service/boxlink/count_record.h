#pragma once
// One count record as a box sends it while downloading, and its text in the cache file.
#include <cstdint>
#include <string>

namespace quorvel {

struct CountRecord {
  std::uint32_t checksum = 0;  // the checksum field as read, plus the byte sum of the data
  std::uint32_t month = 0;
  std::uint32_t day = 0;
  std::uint32_t year = 0;  // two digits, read as hexadecimal
  std::uint32_t hour = 0;
  std::uint32_t firstCount = 0;
  std::uint32_t secondCount = 0;  // 0 for a record with one count

  void Clear();
  // Reads "hour day month year first [second] checksum" (hexadecimal fields, white space
  // optional) and adds the data bytes to the checksum. A line that is no record is read as
  // far as it goes and then fails ChecksumOk.
  void ParseRecord(const char* line);
  // True when the data bytes and the checksum field add up to FF.
  bool ChecksumOk() const;
  // Day and month in range. Day 0 and month 0 pass: the boxes are trusted with those.
  bool IsPlausible() const;
  // "yyyymmdd,hh,ccccc,ccccc" in decimal.
  std::string FormatRecord() const;
};

}  // namespace quorvel
