#pragma once
// A window object bound to its HWND: the shared window procedure finds the object through the
// pointer stored at WM_NCCREATE and hands every message to HandleMessage.
//
// Ownership: until Create succeeds, the object belongs to its creator. A window destroyed while
// it is being created (WM_NCCREATE or WM_CREATE refused, no display driver) makes Create give
// false and never reaches HandleDestroyed, so the creator alone deletes the object. Only a
// window that Create reported as created gets HandleDestroyed once it is gone.
#include <windows.h>

namespace quorvel::framework {

class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Registers a window class whose windows are dispatched to their Window objects.
  static bool RegisterWindowClass(const char* className, UINT style, HCURSOR cursor, HBRUSH background,
                            HICON icon);
  // Creates the window; HandleMessage sees WM_CREATE before this returns. False when the
  // window was not created or did not survive its creation.
  bool Create(DWORD exStyle, const char* className, const char* title, DWORD style,
              const RECT& rect, HWND parent);
  HWND Handle() const { return hwnd_; }

 protected:
  // Default: the platform's default processing.
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
  // Runs after a created window is gone (WM_NCDESTROY), not after a failed Create; an object
  // that owns itself deletes itself here.
  virtual void HandleDestroyed() {}

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
  bool creating_ = false;
};

}  // namespace quorvel::framework
