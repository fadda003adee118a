// Stands in for a running service: holds the mutex "quorveld.0" and a hidden window "Quorvel
// Service" that answers the end-of-session query with the number given on the command line
// (default 1). After answering 1 it closes; the mutex is then abandoned as the service's is.
// "hang" makes it stop answering messages once the query arrives, as a hung program does.
// "hold PATH" is no service at all: it keeps PATH open (others may read it, not replace it)
// until it is ended.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

LRESULT gReply = 1;
bool gHang = false;

int HoldOpen(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  Sleep(INFINITE);
  return 0;
}

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      if (gHang) Sleep(INFINITE);
      if (gReply == 1) PostMessageA(hwnd, WM_CLOSE, 0, 0);
      return gReply;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  if (commandLine && std::strncmp(commandLine, "hold ", 5) == 0) return HoldOpen(commandLine + 5);
  gHang = commandLine && std::strcmp(commandLine, "hang") == 0;
  if (commandLine && *commandLine && !gHang) gReply = std::atoi(commandLine);
  // Never released: the mutex is abandoned when this thread ends.
  if (!CreateMutexA(nullptr, TRUE, "quorveld.0") || GetLastError() == ERROR_ALREADY_EXISTS) {
    return 1;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.lpszClassName = "QuorvelFakeService";
  RegisterClassA(&wc);
  if (!CreateWindowExA(0, wc.lpszClassName, "Quorvel Service", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                       nullptr, nullptr, instance, nullptr)) {
    return 1;
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
