#include "framework/application.h"

#include <commctrl.h>

#include "framework/system_library.h"

namespace quorvel::framework {

Application* Application::current_ = nullptr;

Application::Application() {
  current_ = this;
}

Application::~Application() {
  if (current_ == this) current_ = nullptr;
}

int Application::Main(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS |
                                                      ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  if (auto init = SystemFunction<InitControls>("comctl32.dll", "InitCommonControlsEx")) {
    init(&controls);
  }
  if (!StartUp()) return Finish(0);
  return Finish(RunMessageLoop());
}

int Application::RunMessageLoop() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace quorvel::framework

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  auto* app = quorvel::framework::Application::Current();
  return app ? app->Main(instance) : 1;
}
