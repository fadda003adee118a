#pragma once
// The system's words for a Win32 error code, for messages and log lines.
#include <windows.h>

#include <string>

namespace quorvel {

// The text FormatMessage gives for an error code (GetLastError), e.g. "Access denied.";
// "Error N." when the system has none.
std::string SystemErrorText(DWORD code);

}  // namespace quorvel
