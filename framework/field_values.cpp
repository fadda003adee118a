#include "framework/field_values.h"

#include <limits>

namespace quorvel::framework {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

void ReplaceAll(std::string& text, const std::string& marker, const std::string& value) {
  for (std::size_t at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + value.size())) {
    text.replace(at, marker.size(), value);
  }
}

}  // namespace

UnsignedFieldResult ParseUnsignedField(const std::string& text, unsigned minimum, unsigned maximum,
                                       unsigned& value) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return UnsignedFieldResult::NoNumber;
  unsigned long long number = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return UnsignedFieldResult::NoNumber;
    // Saturate: the range check below rejects anything this large anyway.
    if (number <= std::numeric_limits<unsigned>::max()) number = number * 10 + (text[i] - '0');
  }
  if (number < minimum || number > maximum) return UnsignedFieldResult::OutOfRange;
  value = static_cast<unsigned>(number);
  return UnsignedFieldResult::Valid;
}

std::string RangeMessage(unsigned minimum, unsigned maximum) {
  std::string message = "Please enter an integer between %1 and %2.";
  ReplaceAll(message, "%1", std::to_string(minimum));
  ReplaceAll(message, "%2", std::to_string(maximum));
  return message;
}

int CheckStateToShow(int& value) {
  if (value < 0 || value > 2) value = 0;
  return value;
}

}  // namespace quorvel::framework
