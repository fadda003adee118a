#include "framework/modal_loops.h"

namespace quorvel::framework {
namespace {

// Message boxes and dialogs alike are windows of the dialog class; ending one makes its
// modal loop return once it has handled the message in hand. The result is IDOK, what a
// box with only an OK button gives: it means "no choice made" to every caller here.
BOOL CALLBACK EndDialogWindow(HWND window, LPARAM) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpA(className, "#32770") == 0) EndDialog(window, IDOK);
  return TRUE;
}

}  // namespace

ModalLoops::Scope::Scope(ModalLoops& loops) : loops_(loops) {
  ++loops_.depth_;
}

ModalLoops::Scope::~Scope() {
  loops_.Leave();
}

void ModalLoops::Leave() {
  if (--depth_ > 0 || !repostDue_) return;
  repostDue_ = false;
  PostMessageA(closingWindow_, WM_CLOSE, 0, 0);
}

bool ModalLoops::PutOffClose(HWND window) {
  if (depth_ == 0) return false;
  closingWindow_ = window;
  repostDue_ = true;
  EndMenu();  // a menu open in a dialog runs a loop of its own
  EnumThreadWindows(GetCurrentThreadId(), &EndDialogWindow, 0);
  return true;
}

}  // namespace quorvel::framework
