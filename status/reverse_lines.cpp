#include "status/reverse_lines.h"

#include <algorithm>

namespace quorvel {

ReverseLineReader::ReverseLineReader(SharedFile& file)
    : file_(file), windowStart_(file.Size()), next_(file.Size()) {}

bool ReverseLineReader::LoadBefore() {
  if (windowStart_ == 0) return false;
  const std::int64_t start =
      std::max<std::int64_t>(0, windowStart_ - static_cast<std::int64_t>(kPiece));
  const std::size_t size = static_cast<std::size_t>(windowStart_ - start);
  window_.insert(0, size, '\0');
  // A file cut short while read reads as zeros from there on: not a line of the service's.
  for (std::size_t got = 0; got < size;) {
    const std::size_t n =
        file_.ReadAt(start + static_cast<std::int64_t>(got), &window_[got], size - got);
    if (n == 0) break;
    got += n;
  }
  bytesRead_ += static_cast<std::int64_t>(size);
  windowStart_ = start;
  return true;
}

// Drops the current overlong line: moves next_ to its start, reading back piece by piece.
void ReverseLineReader::SkipToLineStart() {
  for (;;) {
    const std::size_t lf = window_.rfind('\n');
    if (lf != std::string::npos) {
      next_ = windowStart_ + static_cast<std::int64_t>(lf) + 1;
      window_.resize(lf + 1);
      return;
    }
    window_.clear();
    if (!LoadBefore()) {
      next_ = 0;
      return;
    }
  }
}

bool ReverseLineReader::Previous(std::string_view& line) {
  cut_ = false;
  unfinished_ = false;
  if (next_ <= 0) return false;
  window_.resize(static_cast<std::size_t>(next_ - windowStart_));
  if (window_.empty() && !LoadBefore()) return false;

  // The line ends at next_, less its line feed; only the file's last line may lack one.
  std::int64_t end = next_;
  if (window_.back() == '\n') {
    --end;
  } else if (first_) {
    unfinished_ = true;
  }
  first_ = false;

  for (;;) {
    const std::size_t searchEnd = static_cast<std::size_t>(end - windowStart_);
    const std::size_t lf = searchEnd == 0 ? std::string::npos : window_.rfind('\n', searchEnd - 1);
    if (lf != std::string::npos) {
      next_ = windowStart_ + static_cast<std::int64_t>(lf) + 1;
      break;
    }
    if (windowStart_ == 0) {
      next_ = 0;
      break;
    }
    if (end - windowStart_ > static_cast<std::int64_t>(kLongestLine)) {
      window_.clear();  // no line feed in it: all of it belongs to the overlong line
      SkipToLineStart();
      cut_ = true;
      line = std::string_view();
      return true;
    }
    if (!LoadBefore()) {
      next_ = 0;
      break;
    }
  }
  const std::size_t from = static_cast<std::size_t>(next_ - windowStart_);
  std::size_t to = static_cast<std::size_t>(end - windowStart_);
  if (to > from && window_[to - 1] == '\r') --to;
  line = std::string_view(window_.data() + from, to - from);
  return true;
}

}  // namespace quorvel
