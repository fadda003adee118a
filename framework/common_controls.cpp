#include "framework/common_controls.h"

#include "framework/system_library.h"

namespace quorvel::framework {
namespace {

struct CommonControls {
  decltype(&InitCommonControlsEx) initCommonControlsEx;
  decltype(&SetWindowSubclass) setWindowSubclass;
  decltype(&RemoveWindowSubclass) removeWindowSubclass;
  decltype(&DefSubclassProc) defSubclassProc;
};

const CommonControls& Library() {
  static const CommonControls functions = [] {
    const HMODULE module = LoadSystemLibrary("comctl32.dll");
    return CommonControls{
        LibraryFunction<decltype(&InitCommonControlsEx)>(module, "InitCommonControlsEx"),
        LibraryFunction<decltype(&SetWindowSubclass)>(module, "SetWindowSubclass"),
        LibraryFunction<decltype(&RemoveWindowSubclass)>(module, "RemoveWindowSubclass"),
        LibraryFunction<decltype(&DefSubclassProc)>(module, "DefSubclassProc")};
  }();
  return functions;
}

}  // namespace

bool InitializeCommonControls(const INITCOMMONCONTROLSEX& controls) {
  const auto init = Library().initCommonControlsEx;
  return init && init(&controls);
}

bool SubclassWindow(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR data) {
  const auto subclass = Library().setWindowSubclass;
  return subclass && subclass(hwnd, procedure, id, data);
}

void RemoveSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
  if (const auto remove = Library().removeWindowSubclass) remove(hwnd, procedure, id);
}

LRESULT DefaultSubclassProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Library().defSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace quorvel::framework
