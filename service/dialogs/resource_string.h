#pragma once
// Texts from the program's string table.
#include <windows.h>

#include <string>

namespace quorvel {

// The string resource `id` of the program file; empty when there is none.
inline std::string ResourceString(UINT id) {
  char text[256] = {};
  const int length = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

}  // namespace quorvel
