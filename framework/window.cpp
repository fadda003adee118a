#include "framework/window.h"

#include "framework/application.h"

namespace quorvel::framework {

Window::~Window() {
  if (hwnd_) {
    // The object goes first: unhook it so late messages reach only the default procedure.
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool Window::RegisterWindowClass(const char* className, UINT style, HCURSOR cursor, HBRUSH background,
                           HICON icon) {
  WNDCLASSA wc{};
  wc.style = style;
  wc.lpfnWndProc = &Window::Procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = cursor;
  wc.hbrBackground = background;
  wc.hIcon = icon;
  wc.lpszClassName = className;
  return ::RegisterClassA(&wc) != 0;
}

bool Window::Create(DWORD exStyle, const char* className, const char* title, DWORD style,
                    const RECT& rect, HWND parent) {
  creating_ = true;
  const HWND created = CreateWindowExA(exStyle, className, title, style, rect.left, rect.top,
                                       rect.right - rect.left, rect.bottom - rect.top, parent,
                                       nullptr, GetModuleHandleA(nullptr), this);
  creating_ = false;
  // A window destroyed during its creation has already unbound the object at WM_NCDESTROY.
  return created != nullptr && hwnd_ == created;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return Default(message, wParam, lParam);
}

LRESULT Window::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* created = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* self = static_cast<Window*>(created->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  if (message != WM_NCDESTROY) return self->HandleMessage(message, wParam, lParam);

  const LRESULT result = self->HandleMessage(message, wParam, lParam);
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  self->hwnd_ = nullptr;
  Application* app = Application::Current();
  if (app && app->MainWindow() == hwnd) {
    app->SetMainWindow(nullptr);
    PostQuitMessage(0);
  }
  // During Create the creator still owns the object and learns of the failure from Create.
  if (!self->creating_) self->HandleDestroyed();
  return result;
}

}  // namespace quorvel::framework
