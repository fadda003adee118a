#include "service/platform/win32/system_error.h"

namespace quorvel {

std::string SystemErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  message.erase(message.find_last_not_of(" \t\r\n") + 1);
  return message.empty() ? "Error " + std::to_string(code) + "." : message;
}

}  // namespace quorvel
