// The Windows program: the application object that starts the service, and the hidden window
// that carries the scheduler and its 100 ms timer.
#include <windows.h>

#include <memory>

#include "framework/application.h"
#include "framework/modal_loops.h"
#include "framework/window.h"
#include "service/boxlink/serial_library_binding.h"
#include "service/core/service_window.h"
#include "service/settings/settings.h"
#include "service/dialogs/options_dialog.h"
#include "service/platform/win32/win32_platform.h"
#include "service/platform/win32/wininet_http_client.h"

namespace quorvel {
namespace {

constexpr const char* kMutexName = "quorveld.0";
// The same name machine-wide: a copy started by another log-on (a second session) finds it.
constexpr const char* kGlobalMutexName = "Global\\quorveld.0";
constexpr const char* kWindowTitle = "Quorvel Service";
constexpr const char* kWindowClass = "QuorvelServiceWindow";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTickMilliseconds = 100;

class ServiceApp;

// Every message box of the service runs a modal loop on the service window's thread.
class ModalNotifier : public Notifier {
 public:
  ModalNotifier(Notifier& boxes, framework::ModalLoops& loops) : boxes_(boxes), loops_(loops) {}
  void Show(const std::string& text, const std::string& caption, MessageIcon icon,
            MessageOwner owner) override {
    const framework::ModalLoops::Scope modal(loops_);
    boxes_.Show(text, caption, icon, owner);
  }

 private:
  Notifier& boxes_;
  framework::ModalLoops& loops_;
};

// The hidden top-level window. It owns the scheduler; once created it deletes itself when
// destroyed.
class ServiceWindowHost : public framework::Window, public WindowHost {
 public:
  ServiceWindowHost(Settings& settings, Platform& platform, OptionsDialogRunner& options,
                    framework::ModalLoops& modalLoops)
      : service_(settings, platform, *this, options), modalLoops_(modalLoops) {}

  // Once a close has been put off, no tick starts anything new before it comes back.
  void Tick() {
    if (!modalLoops_.ClosePending()) service_.HandleTick();
  }

  bool StartTimer() override {
    timerId_ = SetTimer(Handle(), kTimerId, kTickMilliseconds, &ServiceWindowHost::TimerProc);
    return timerId_ != 0;
  }
  void KillTimer() override { ::KillTimer(Handle(), timerId_); }
  void PostClose() override { PostMessageA(Handle(), WM_CLOSE, 0, 0); }

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_CREATE:
        if (Default(message, wParam, lParam) == -1) return -1;
        return service_.HandleCreate();
      case WM_CLOSE:
        // Inside a box or dialog the window may not go yet: the code that opened it still
        // has to return through this object.
        if (modalLoops_.PutOffClose(Handle())) return 0;
        service_.HandleClose();
        return Default(message, wParam, lParam);  // destroys the window
      case WM_QUERYENDSESSION:
        if (!Default(message, wParam, lParam)) return FALSE;
        return service_.HandleEndSessionQuery() ? TRUE : FALSE;
      default:
        return Default(message, wParam, lParam);
    }
  }
  void HandleDestroyed() override { delete this; }

 private:
  // The timer callback finds the window as the application's main window.
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD);

  ServiceWindow service_;
  framework::ModalLoops& modalLoops_;
  UINT_PTR timerId_ = 0;
};

class ServiceApp : public framework::Application, public OptionsDialogRunner {
 public:
  bool StartUp() override {
    // Another copy runs, in this session or another: end silently, touching nothing.
    if (!TakeMachineWideMutex()) return false;
    HANDLE running = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, kMutexName);
    if (running) {
      CloseHandle(running);
      return false;
    }
    // Held, never released, until the process ends: the updater waits for it to be abandoned.
    CreateMutexA(nullptr, TRUE, kMutexName);

    RestoreSettingsFile(profiles_, *files_);
    settings_ = ReadSettings(profiles_, ProgramDirectory(ProgramFilePath()));

    framework::Window::RegisterWindowClass(kWindowClass, CS_HREDRAW | CS_VREDRAW, LoadCursor(nullptr, IDC_ARROW),
                          static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)),
                          LoadIcon(nullptr, IDI_APPLICATION));
    auto window = std::make_unique<ServiceWindowHost>(settings_, platform_, *this, modalLoops_);
    const RECT rect{10, 10, 60, 60};
    // No window (no display driver, or the timer could not start): end quietly, as a second
    // copy does. The object is still ours and goes with `window`.
    if (!window->Create(0, kWindowClass, kWindowTitle, WS_CAPTION, rect, nullptr)) return false;
    notifier_.SetServiceWindow(window->Handle());
    SetMainWindow(window->Handle());
    window.release();  // a created window owns itself and deletes itself once destroyed
    return true;
  }

  int RunOptionsDialog() override {
    const framework::ModalLoops::Scope modal(modalLoops_);
    return ShowOptionsDialog(settings_, profiles_, *files_);
  }

 private:
  // Creates and holds the machine-wide mutex; false when another copy holds it. A copy of
  // another user's log-on holds one this user may not open. Any other failure does not stop
  // the service: the session's own mutex still keeps a second copy of this log-on away.
  static bool TakeMachineWideMutex() {
    HANDLE global = CreateMutexA(nullptr, TRUE, kGlobalMutexName);
    const DWORD error = GetLastError();
    if (global && error == ERROR_ALREADY_EXISTS) {
      CloseHandle(global);
      return false;
    }
    return global || error != ERROR_ACCESS_DENIED;
  }

  SystemClock clock_;
  AsyncKeyState keys_;
  std::unique_ptr<CommLibrary> comm_ = MakeSerialLibraryBinding();
  std::unique_ptr<FileSystem> files_ = MakeSystemFileSystem();
  std::unique_ptr<HttpClient> http_ = MakeWinInetHttpClient();
  MessageBoxNotifier notifier_;
  framework::ModalLoops modalLoops_;
  ModalNotifier modalNotifier_{notifier_, modalLoops_};
  PrivateProfileStore profiles_;
  ModuleProgramInfo program_;
  Platform platform_{clock_, keys_, *comm_, *files_, *http_, modalNotifier_, profiles_, program_};
  Settings settings_;
};

void CALLBACK ServiceWindowHost::TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  HWND main = framework::Application::Current()->MainWindow();
  auto* window =
      main ? reinterpret_cast<framework::Window*>(GetWindowLongPtrA(main, GWLP_USERDATA)) : nullptr;
  auto* host = static_cast<ServiceWindowHost*>(window);
  if (host) host->Tick();
}

ServiceApp theApp;

}  // namespace
}  // namespace quorvel
