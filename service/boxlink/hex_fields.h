#pragma once
// Reading the box's hexadecimal fields. A field is read as a scanf "%Nx" conversion reads it:
// white space (blanks, tabs, line feeds) before it is skipped, then up to N hexadecimal
// digits of either case are taken. Unlike scanf, a sign or a "0x" prefix is not accepted:
// the box never sends them, and a line carrying them is not a valid reply.
#include <cstddef>
#include <string>

namespace quorvel {

// Reads fields of the given digit counts from `text` (NUL-terminated) in order into
// `values`, stopping at the first field that has no digit. Returns the number of fields read;
// fields after that are left as they were.
int ScanHexFields(const char* text, const int* widths, std::size_t count, unsigned* values);

// Reads a line that must be exactly these fields: each with all its digits, and nothing but
// white space after the last. True when the whole line read so; `values` may be partly
// filled when false.
bool ScanWholeHexFields(const char* text, const int* widths, std::size_t count,
                        unsigned* values);

// `text` without the white space the scan skips at either end, each run of it inside made
// one blank: the same fields whatever stray blanks or line feeds came with them.
std::string WithPlainBlanks(const char* text);

}  // namespace quorvel
