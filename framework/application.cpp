#include "framework/application.h"

#include "framework/common_controls.h"
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
  InitializeCommonControls(controls);
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
  quorvel::framework::RestrictLibrarySearch();
  auto* app = quorvel::framework::Application::Current();
  return app ? app->Main(instance) : 1;
}
