#pragma once
// Time as the service sees it. The timer tick hands "now" to the logic through this
// interface, so tests move a fake clock instead of sleeping.
#include <cstdint>
#include <ctime>

namespace quorvel {

// Seconds since 1970-01-01 UTC. Held in 64 bits: a 32-bit count runs out in 2038.
using CalendarTime = std::int64_t;

class Clock {
 public:
  virtual ~Clock() = default;
  // Current calendar time.
  virtual CalendarTime Now() const = 0;
  // Calendar time broken down as the PC's local time (tm_isdst set by the platform).
  virtual std::tm ToLocal(CalendarTime t) const = 0;
  // Local broken-down time back to calendar time, normalising out-of-range fields in
  // `local` as mktime does; tm_isdst -1 lets the platform decide daylight saving.
  virtual CalendarTime FromLocal(std::tm& local) const = 0;
  // Milliseconds since the system started (wraps after about 49 days).
  virtual std::uint32_t MillisecondsSinceStart() const = 0;
  // Blocks the calling thread for about `milliseconds`.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace quorvel
