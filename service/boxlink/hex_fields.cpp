#include "service/boxlink/hex_fields.h"

namespace quorvel {
namespace {

bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one field of at most `width` digits at `p` after skipping white space; returns the
// digits read and leaves `p` after them.
int ReadField(const char*& p, int width, unsigned& value) {
  while (IsScanSpace(*p)) ++p;
  value = 0;
  int digits = 0;
  for (int digit; digits < width && (digit = HexDigitValue(*p)) >= 0; ++p, ++digits)
    value = value * 16 + static_cast<unsigned>(digit);
  return digits;
}

}  // namespace

int ScanHexFields(const char* text, const int* widths, std::size_t count, unsigned* values) {
  const char* p = text;
  for (std::size_t field = 0; field < count; ++field) {
    unsigned value = 0;
    if (ReadField(p, widths[field], value) == 0) return static_cast<int>(field);
    values[field] = value;
  }
  return static_cast<int>(count);
}

bool ScanWholeHexFields(const char* text, const int* widths, std::size_t count,
                        unsigned* values) {
  const char* p = text;
  for (std::size_t field = 0; field < count; ++field) {
    unsigned value = 0;
    if (ReadField(p, widths[field], value) != widths[field]) return false;
    values[field] = value;
  }
  while (IsScanSpace(*p)) ++p;
  return *p == '\0';
}

std::string WithPlainBlanks(const char* text) {
  std::string plain;
  bool blank = false;
  for (const char* p = text; *p; ++p) {
    if (IsScanSpace(*p)) {
      blank = !plain.empty();
      continue;
    }
    if (blank) plain += ' ';
    blank = false;
    plain += *p;
  }
  return plain;
}

}  // namespace quorvel
