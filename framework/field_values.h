#pragma once
// What the dialogs' field exchange makes of typed values; free of the platform so it can be
// tested on its own.
#include <string>

namespace quorvel::framework {

inline constexpr char kNoNumberMessage[] = "Please enter a positive integer.";

enum class UnsignedFieldResult { Valid, NoNumber, OutOfRange };

// An unsigned decimal as typed into an edit field: digits with optional blanks around them.
// A number too large for `unsigned` counts as out of range, not as no number.
UnsignedFieldResult ParseUnsignedField(const std::string& text, unsigned minimum, unsigned maximum,
                                       unsigned& value);

// "Please enter an integer between 1 and 48."
std::string RangeMessage(unsigned minimum, unsigned maximum);

// The check box state to show for a stored value: 0, 1 and 2 (the third state) as they are;
// anything else is reset to 0 in `value` first.
int CheckStateToShow(int& value);

}  // namespace quorvel::framework
