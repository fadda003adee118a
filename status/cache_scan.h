#pragma once
// What quorveld.dat holds: the records waiting for upload, by box and day.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "status/status_files.h"

namespace quorvel {

struct BoxDays {
  std::set<std::uint32_t> days;  // yyyymmdd
  std::int64_t records = 0;
};

struct CacheFacts {
  OpenOutcome outcome = OpenOutcome::Missing;
  std::int64_t size = 0;
  std::int64_t records = 0;              // whole record lines
  std::int64_t notRecords = 0;           // lines that are not a whole record
  std::int64_t firstNotRecord = 0;       // its line number, 1 for the first line; 0 when none
  std::map<std::string, BoxDays> boxes;  // by serial as the cache writes it
  std::int64_t BoxDayCount() const;
  std::set<std::string> Serials() const;
};

// Reads the whole cache forward in bounded pieces.
CacheFacts ScanCache(SharedFile& cache);

}  // namespace quorvel
