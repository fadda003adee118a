#pragma once
// Modal loops (message boxes, dialogs) run by a window's thread, and a close that arrives
// inside one. Such a loop dispatches every message of the thread, WM_CLOSE included, while
// the code that opened it is still on the stack below: destroying the window and its object
// there would return into freed memory. The close is put off instead: the thread's open
// boxes and dialogs are ended as if dismissed, and once the outermost loop has returned the
// close is posted again and carried out from the message loop.
#include <windows.h>

namespace quorvel::framework {

class ModalLoops {
 public:
  // Wraps every call that runs a modal loop on the thread.
  class Scope {
   public:
    explicit Scope(ModalLoops& loops);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ModalLoops& loops_;
  };

  // For WM_CLOSE: true when a modal loop runs and the close must wait (it comes back to
  // `window` by itself); false when the window may close now.
  bool PutOffClose(HWND window);
  // A close was put off and the window is on its way out: nothing new should start.
  bool ClosePending() const { return closingWindow_ != nullptr; }

 private:
  void Leave();

  int depth_ = 0;
  HWND closingWindow_ = nullptr;
  bool repostDue_ = false;  // a close was put off since the last one was posted again
};

}  // namespace quorvel::framework
