#pragma once
// The program's one application object. The framework's WinMain asks it to initialise, runs
// the message loop while initialisation said so, and hands the loop's exit code to Finish.
#include <windows.h>

namespace quorvel::framework {

class Application {
 public:
  Application();
  virtual ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The one instance, constructed as a global before WinMain runs.
  static Application* Current() { return current_; }

  // False ends the program at once; true enters the message loop.
  virtual bool StartUp() = 0;
  // Exit code of the program, given the message loop's.
  virtual int Finish(int loopExitCode) { return loopExitCode; }

  HINSTANCE Instance() const { return instance_; }
  // Destroying the main window ends the message loop.
  HWND MainWindow() const { return mainWindow_; }
  void SetMainWindow(HWND window) { mainWindow_ = window; }

  int Main(HINSTANCE instance);

 private:
  static int RunMessageLoop();

  static Application* current_;
  HINSTANCE instance_ = nullptr;
  HWND mainWindow_ = nullptr;
};

}  // namespace quorvel::framework
