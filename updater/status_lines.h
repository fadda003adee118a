#pragma once
#include <string>

namespace quorvel::updater {

// The updater's window: every step of a run shows as one line.
class StatusLines {
 public:
  virtual ~StatusLines() = default;
  virtual void AddStatusLine(const std::string& line) = 0;
};

}  // namespace quorvel::updater
