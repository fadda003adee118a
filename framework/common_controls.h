#pragma once
// The common controls library (comctl32.dll), loaded from the system folder on first use rather
// than imported. Where it cannot be loaded the calls do nothing and report failure.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace quorvel::framework {

bool InitializeCommonControls(const INITCOMMONCONTROLSEX& controls);
bool SubclassWindow(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data);
void RemoveSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
// Only from a procedure installed by SubclassWindow.
LRESULT DefaultSubclassProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quorvel::framework
