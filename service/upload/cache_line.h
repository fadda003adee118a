#pragma once
// Reading one cache line back: "serial,date,hour,count1,count2", the serial hexadecimal and
// the rest decimal, as the upload and the status program take them apart.
#include <cstdint>
#include <string_view>

namespace quorvel {

// The five fields of a cache line. A line fills them from the left; fields it does not
// yield keep what the line before left in them.
struct CacheFields {
  std::uint64_t serial = 0;
  std::uint32_t date = 0;
  std::uint32_t hour = 0;
  std::uint32_t count1 = 0;
  std::uint32_t count2 = 0;
};

// Scans `line` (without its line feed) into `fields`; returns how many fields it yielded.
int ScanCacheLine(std::string_view line, CacheFields& fields);

}  // namespace quorvel
