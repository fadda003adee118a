#pragma once
// Lines of a file from the last to the first, read in bounded pieces from the end, so a
// huge log costs only what is read of its tail.
#include <cstdint>
#include <string>
#include <string_view>

#include "status/status_files.h"

namespace quorvel {

class ReverseLineReader {
 public:
  static constexpr std::size_t kPiece = 64 * 1024;
  // A longer line is given as cut: its content is dropped, the lines before it still come.
  static constexpr std::size_t kLongestLine = 64 * 1024;

  explicit ReverseLineReader(SharedFile& file);

  // The line before the last one given, without its CR LF or LF; false at the file's start.
  // The view stays valid until the next call.
  bool Previous(std::string_view& line);
  // The line just given was longer than kLongestLine.
  bool cut() const { return cut_; }
  // The line just given is the file's last and has no line end yet (still being written).
  bool unfinished() const { return unfinished_; }
  std::int64_t bytesRead() const { return bytesRead_; }

 private:
  bool LoadBefore();  // reads the piece before window_; false at the start or on failure
  void SkipToLineStart();

  SharedFile& file_;
  std::string window_;  // bytes [windowStart_, next_) of the file
  std::int64_t windowStart_ = 0;
  std::int64_t next_ = 0;  // end of the part not given yet
  bool first_ = true;
  bool cut_ = false;
  bool unfinished_ = false;
  std::int64_t bytesRead_ = 0;
};

}  // namespace quorvel
