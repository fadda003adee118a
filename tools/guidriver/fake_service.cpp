// Stands in for a running service: holds the mutex "quorveld.0" and a hidden window "Quorvel
// Service" that answers the end-of-session query with the number given on the command line
// (default 1). After answering 1 it closes; the mutex is then abandoned as the service's is.
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT gReply = 1;

LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
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
  if (commandLine && *commandLine) gReply = std::atoi(commandLine);
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
