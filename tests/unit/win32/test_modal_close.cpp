// A close that arrives while a box or dialog is up: the box ends first, the window and its
// object go only once the code that opened the box has returned. Windows only: real windows,
// under Wine in the test run.
#include <doctest.h>

#include <vector>

#include "framework/modal_loops.h"
#include "framework/window.h"

namespace quorvel {
namespace {

constexpr const char* kOwnerClass = "QuorvelModalOwner";
constexpr UINT kOpenNested = WM_APP + 1;

// What happened, in order, to the window and the boxes it opened.
std::vector<const char*> events;
bool ownerAlive = false;

// A self-owning window, as the service's, that opens its boxes inside modal scopes.
class OwnerWindow : public framework::Window {
 public:
  OwnerWindow() { ownerAlive = true; }
  ~OwnerWindow() override { ownerAlive = false; }

  bool Create() {
    return framework::Window::Create(0, kOwnerClass, "owner", WS_POPUP, RECT{0, 0, 20, 20},
                                     nullptr);
  }
  // A message box inside the window's code: a close posted now arrives inside its loop.
  int BoxWithCloseInside() {
    const framework::ModalLoops::Scope modal(loops_);
    PostMessageA(Handle(), WM_CLOSE, 0, 0);
    const int answer = MessageBoxA(Handle(), "outer", "test", MB_OK);
    events.push_back(ownerAlive && loops_.ClosePending() ? "box returned, owner alive" : "?");
    return answer;
  }
  // A dialog without a cancel, as the options dialog, with a yes/no box opened inside it.
  INT_PTR DialogWithBoxAndCloseInside();

  framework::ModalLoops loops_;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CLOSE) {
      if (loops_.PutOffClose(Handle())) {
        events.push_back("close put off");
        return 0;
      }
      events.push_back("closed");
    }
    return Default(message, wParam, lParam);
  }
  void HandleDestroyed() override {
    events.push_back("destroyed");
    delete this;
  }
};

INT_PTR CALLBACK NoCancelDialog(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    PostMessageA(dialog, kOpenNested, 0, lParam);
    return TRUE;
  }
  if (message == kOpenNested) {
    auto* owner = reinterpret_cast<OwnerWindow*>(lParam);
    PostMessageA(owner->Handle(), WM_CLOSE, 0, 0);
    const int answer = MessageBoxA(dialog, "inner", "test", MB_YESNO);
    events.push_back(answer == IDYES ? "inner box: yes" : "inner box: no choice");
    return TRUE;
  }
  return FALSE;  // IDCANCEL is not handled: Escape and the close box do nothing
}

INT_PTR OwnerWindow::DialogWithBoxAndCloseInside() {
  // An empty dialog template: style, extended style, no items, position, size, then no menu,
  // the dialog class and an empty title (three empty words).
  alignas(4) WORD dialogTemplate[32] = {};
  auto* head = reinterpret_cast<DLGTEMPLATE*>(dialogTemplate);
  head->style = WS_POPUP | WS_CAPTION | DS_MODALFRAME;
  head->cx = 100;
  head->cy = 50;
  const framework::ModalLoops::Scope modal(loops_);
  const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), head, Handle(),
                                                 &NoCancelDialog, reinterpret_cast<LPARAM>(this));
  events.push_back(ownerAlive ? "dialog returned, owner alive" : "?");
  return result;
}

// Runs the thread's messages until the window is gone (or a generous limit passes).
void PumpUntilGone(HWND window) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (IsWindow(window) && GetTickCount() - start < 10000) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(1);
  }
}

OwnerWindow* NewOwner() {
  events.clear();
  framework::Window::RegisterWindowClass(kOwnerClass, 0, nullptr, nullptr, nullptr);
  auto* owner = new OwnerWindow;
  REQUIRE(owner->Create());
  return owner;
}

TEST_CASE("a close inside a message box ends the box, then the window") {
  OwnerWindow* owner = NewOwner();
  const HWND window = owner->Handle();
  CHECK(owner->BoxWithCloseInside() == IDOK);
  PumpUntilGone(window);
  CHECK_FALSE(IsWindow(window));
  CHECK_FALSE(ownerAlive);
  CHECK(events == std::vector<const char*>{"close put off", "box returned, owner alive", "closed",
                                           "destroyed"});
}

TEST_CASE("a close inside a box inside a dialog without cancel ends both, then the window") {
  OwnerWindow* owner = NewOwner();
  const HWND window = owner->Handle();
  CHECK(owner->DialogWithBoxAndCloseInside() == IDOK);
  PumpUntilGone(window);
  CHECK_FALSE(ownerAlive);
  CHECK(events == std::vector<const char*>{"close put off", "inner box: no choice",
                                           "dialog returned, owner alive", "closed", "destroyed"});
}

TEST_CASE("without a modal loop a close goes through at once") {
  OwnerWindow* owner = NewOwner();
  SendMessageA(owner->Handle(), WM_CLOSE, 0, 0);
  CHECK_FALSE(ownerAlive);
  CHECK(events == std::vector<const char*>{"closed", "destroyed"});
}

}  // namespace
}  // namespace quorvel
