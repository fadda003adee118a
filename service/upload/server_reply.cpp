#include "service/upload/server_reply.h"

#include <climits>
#include <cstdint>

namespace quorvel {
namespace {

constexpr std::string_view kResponseMarker = "id=\"server_response";
constexpr std::string_view kResultMarker = "title=\"";
constexpr std::size_t kClockFiller = 4;
constexpr std::size_t kClockDigits = 8;
constexpr std::int64_t kClockTolerance = 9;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The leading decimal digits of `text` as a number; 0 when there are none. A number too
// large for an int is held at INT_MAX rather than wrapping into some other code.
int LeadingNumber(std::string_view text) {
  std::int64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(value);
}

// Eight digits, or nothing: a mark cut short or holding anything else is no clock.
std::optional<std::int64_t> ClockValue(std::string_view text) {
  if (text.size() < kClockDigits) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text.substr(0, kClockDigits)) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The clock test of one marker line; `afterMarker` is the rest of the line after the marker.
bool ClockMarkAgrees(std::string_view afterMarker, std::string_view localClock) {
  if (afterMarker.empty() || afterMarker.front() != '@') return false;
  const std::size_t digitsAt = 1 + kClockFiller;
  if (afterMarker.size() < digitsAt) return false;
  const auto server = ClockValue(afterMarker.substr(digitsAt));
  const auto local = ClockValue(localClock);
  if (!server || !local) return false;
  const std::int64_t difference = *local - *server;
  return difference >= -kClockTolerance && difference <= kClockTolerance;
}

}  // namespace

ServerReply ParseServerReply(std::string_view body, std::string_view localClock) {
  ServerReply reply;
  while (!body.empty()) {
    const std::size_t end = body.find('\n');
    std::string_view line = body.substr(0, end);
    body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::size_t marker = line.find(kResponseMarker);
    if (marker == std::string_view::npos) continue;
    if (ClockMarkAgrees(line.substr(marker + kResponseMarker.size()), localClock))
      reply.clockAgrees = true;
    const std::size_t result = line.find(kResultMarker);
    if (result == std::string_view::npos) continue;
    reply.resultCode = LeadingNumber(line.substr(result + kResultMarker.size()));
    break;
  }
  return reply;
}

}  // namespace quorvel
