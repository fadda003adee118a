#include "service/boxlink/port_enumeration.h"

#include <cstdint>
#include <limits>

namespace quorvel {

bool IsAllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<unsigned> ComNumberFromPortName(const std::string& portName) {
  if (portName.size() <= 3) return std::nullopt;
  for (std::size_t i = 0; i < 3; ++i) {
    const char upper = (portName[i] >= 'a' && portName[i] <= 'z')
                           ? static_cast<char>(portName[i] - 'a' + 'A')
                           : portName[i];
    if (upper != "COM"[i]) return std::nullopt;
  }
  const std::string digits = portName.substr(3);
  if (!IsAllDigits(digits)) return std::nullopt;
  std::uint64_t number = 0;
  for (const char c : digits) {
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > std::numeric_limits<unsigned>::max()) return std::nullopt;
  }
  return static_cast<unsigned>(number);
}

}  // namespace quorvel
