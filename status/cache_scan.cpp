#include "status/cache_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "service/upload/cache_line.h"

namespace quorvel {
namespace {

constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kLineLimit = 255;  // a longer line is no record whatever it holds
constexpr std::uint32_t kHours = 24;

std::string SerialText(std::uint64_t serial) {
  char text[24];
  std::snprintf(text, sizeof text, "%014llx", static_cast<unsigned long long>(serial));
  return text;
}

class CacheReader {
 public:
  explicit CacheReader(CacheFacts& facts) : facts_(facts) {}

  // One line without its line feed; `whole` when the line feed was there.
  void Take(std::string_view line, bool whole) {
    ++lineNumber_;
    CacheFields fields;
    if (!whole || line.size() > kLineLimit || ScanCacheLine(line, fields) != 5 ||
        fields.hour >= kHours) {
      if (facts_.notRecords++ == 0) facts_.firstNotRecord = lineNumber_;
      return;
    }
    ++facts_.records;
    // Lines come in runs of one box and day: look the box up only when the run changes.
    if (!box_ || fields.serial != serial_) {
      serial_ = fields.serial;
      box_ = &facts_.boxes[SerialText(serial_)];
      day_ = fields.date;
      box_->days.insert(day_);
    } else if (fields.date != day_) {
      day_ = fields.date;
      box_->days.insert(day_);
    }
    ++box_->records;
  }

 private:
  CacheFacts& facts_;
  std::int64_t lineNumber_ = 0;
  BoxDays* box_ = nullptr;
  std::uint64_t serial_ = 0;
  std::uint32_t day_ = 0;
};

}  // namespace

std::int64_t CacheFacts::BoxDayCount() const {
  std::int64_t n = 0;
  for (const auto& [serial, box] : boxes) n += static_cast<std::int64_t>(box.days.size());
  return n;
}

std::set<std::string> CacheFacts::Serials() const {
  std::set<std::string> serials;
  for (const auto& [serial, box] : boxes) serials.insert(serial);
  return serials;
}

CacheFacts ScanCache(SharedFile& cache) {
  CacheFacts facts;
  facts.outcome = OpenOutcome::Opened;
  facts.size = cache.Size();
  CacheReader reader(facts);
  std::string piece(kPiece, '\0');
  // A line running on into the next piece: its first kLineLimit + 1 bytes are kept, enough
  // to tell a record from a line too long to be one.
  std::string carry;
  std::size_t carried = 0;
  const auto keep = [&](std::string_view part) {
    carry.append(part.substr(0, kLineLimit + 1 - carry.size()));
    carried += part.size();
  };
  for (std::int64_t offset = 0; offset < facts.size;) {
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(kPiece), facts.size - offset));
    const std::size_t n = cache.ReadAt(offset, piece.data(), wanted);
    if (n == 0) break;  // cut short while read: what is left is the unfinished line
    offset += static_cast<std::int64_t>(n);
    std::size_t start = 0;
    for (;;) {
      const void* lf = std::memchr(piece.data() + start, '\n', n - start);
      if (!lf) break;
      const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - piece.data());
      const std::string_view line(piece.data() + start, end - start);
      if (carried > 0) {
        keep(line);
        reader.Take(carry, true);
        carry.clear();
        carried = 0;
      } else {
        reader.Take(line, true);
      }
      start = end + 1;
    }
    if (start < n) keep(std::string_view(piece.data() + start, n - start));
  }
  if (carried > 0) reader.Take(carry, false);
  return facts;
}

}  // namespace quorvel
