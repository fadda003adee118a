#include "service/dialogs/folder_edit.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "framework/common_controls.h"
#include "service/dialogs/resource_string.h"
#include "service/resources/resource.h"

namespace quorvel {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr const char* kReducedStateProperty = "quorvel.FolderDialogState";
constexpr const char* kPlaceholderFileName = "Junk";

int PlatformMajorVersion() {
  return LOBYTE(LOWORD(GetVersion()));
}

bool IsInputMessage(UINT message) {
  return (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_KEYFIRST && message <= WM_KEYLAST);
}

int CALLBACK SelectInitialFolder(HWND dialog, UINT message, LPARAM, LPARAM initialPath) {
  if (message == BFFM_INITIALIZED) SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, initialPath);
  return 0;
}

// The shell's folder dialog is built from COM objects.
class ComScope {
 public:
  ComScope() : result_(CoInitialize(nullptr)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

struct ReducedDialogState {
  bool firstPaint = true;
};

// Turns the file-save dialog into a folder chooser: the file-name controls go out of sight,
// a placeholder name lets OK through, and the directory list has the focus.
UINT_PTR CALLBACK ReducedDialogHook(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto* options = reinterpret_cast<const OPENFILENAMEA*>(lParam);
      SetPropA(dialog, kReducedStateProperty, reinterpret_cast<HANDLE>(options->lCustData));
      for (int id : {IDC_FILE_TYPE_LABEL, IDC_FILE_NAME_LABEL, IDC_FILE_NAME, IDC_FILE_LIST,
                     IDC_FILE_TYPE}) {
        ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
      }
      SetDlgItemTextA(dialog, IDC_FILE_NAME, kPlaceholderFileName);
      SetFocus(GetDlgItem(dialog, IDC_FILE_DIR_LIST));
      return FALSE;  // the focus is set
    }
    case WM_PAINT: {
      auto* state = static_cast<ReducedDialogState*>(GetPropA(dialog, kReducedStateProperty));
      if (state && state->firstPaint) {
        state->firstPaint = false;
        SendDlgItemMessageA(dialog, IDC_FILE_DIR_LIST, LB_SETCURSEL, 0, 0);
      }
      return FALSE;
    }
    case WM_DESTROY:
      RemovePropA(dialog, kReducedStateProperty);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

bool FolderBrowser::Browse(std::string& path, HWND owner, int forceReduced,
                           const std::string& title) {
  if (PlatformMajorVersion() < 4 || forceReduced != 0) return BrowseReduced(path, owner, title);
  return BrowseShell(path, owner, title);
}

bool FolderBrowser::BrowseShell(std::string& path, HWND owner, const std::string& title) {
  ComScope com;
  char displayName[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = &SelectInitialFolder;
  info.lParam = reinterpret_cast<LPARAM>(path.c_str());
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return false;

  char folder[MAX_PATH] = {};
  const bool converted = SHGetPathFromIDListA(chosen, folder) != FALSE;
  if (converted) path = folder;
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return false;
  allocator->Free(chosen);
  allocator->Release();
  return converted;
}

bool FolderBrowser::BrowseReduced(std::string& path, HWND owner, const std::string& title) {
  ReducedDialogState state;
  char file[MAX_PATH] = {};
  OPENFILENAMEA options{};
  options.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  options.hwndOwner = owner;
  options.hInstance = GetModuleHandleA(nullptr);
  options.lpstrFile = file;
  options.nMaxFile = sizeof file;
  options.lpstrInitialDir = path.c_str();
  options.lpstrTitle = title.c_str();
  options.Flags = OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  options.lCustData = reinterpret_cast<LPARAM>(&state);
  options.lpfnHook = &ReducedDialogHook;
  options.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER_FILE_DIALOG);
  if (!GetSaveFileNameA(&options)) return false;
  // The full name ends in the placeholder; the folder is what precedes its separator.
  if (options.nFileOffset == 0) return false;
  file[options.nFileOffset - 1] = '\0';
  path = file;
  return true;
}

FolderButton::~FolderButton() {
  Detach();
}

void FolderButton::Attach(HWND button, FolderEdit* edit) {
  hwnd_ = button;
  edit_ = edit;
  framework::SubclassWindow(hwnd_, &FolderButton::Procedure, kSubclassId,
                            reinterpret_cast<DWORD_PTR>(this));
}

void FolderButton::Detach() {
  if (!hwnd_) return;
  framework::RemoveSubclass(hwnd_, &FolderButton::Procedure, kSubclassId);
  if (tooltip_) DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  hwnd_ = nullptr;
}

void FolderButton::OnClicked() {
  if (edit_) edit_->Browse();
}

void FolderButton::CreateTip() {
  tipPending_ = false;
  tooltip_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!tooltip_) return;
  SendMessageA(tooltip_, TTM_ACTIVATE, TRUE, 0);
  std::string tip = edit_ ? edit_->ButtonTip() : std::string();
  TOOLINFOA tool{};
  // The older structure size: common controls without a manifest reject the newest one.
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = GetParent(hwnd_);
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  tool.lpszText = tip.data();
  SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void FolderButton::RelayToTip(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!tooltip_) return;
  const DWORD position = GetMessagePos();
  MSG msg{hwnd_,
          message,
          wParam,
          lParam,
          static_cast<DWORD>(GetMessageTime()),
          {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))}};
  SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

LRESULT CALLBACK FolderButton::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
  auto* button = reinterpret_cast<FolderButton*>(self);
  if (IsInputMessage(message)) {
    if (button->tipPending_) button->CreateTip();
    button->RelayToTip(message, wParam, lParam);
  } else if (message == WM_NCDESTROY) {
    button->Detach();
  }
  return framework::DefaultSubclassProcedure(hwnd, message, wParam, lParam);
}

FolderEdit::~FolderEdit() {
  Detach();
}

bool FolderEdit::Attach(HWND dialog, int controlId, int flags, const std::string& title) {
  flags_ = flags;
  title_ = title;
  if (hwnd_) return true;
  HWND edit = GetDlgItem(dialog, controlId);
  if (!edit) return false;
  hwnd_ = edit;
  framework::SubclassWindow(hwnd_, &FolderEdit::Procedure, kSubclassId,
                            reinterpret_cast<DWORD_PTR>(this));
  CreateButton();
  return true;
}

void FolderEdit::Detach() {
  if (!hwnd_) return;
  framework::RemoveSubclass(hwnd_, &FolderEdit::Procedure, kSubclassId);
  hwnd_ = nullptr;
}

bool FolderEdit::HandleCommand(WORD id, WORD notification, HWND control) {
  if (!control || control != button_.Handle() || id != IDC_FOLDER_BUTTON) return false;
  if (notification == BN_CLICKED) button_.OnClicked();
  return true;
}

void FolderEdit::Browse() {
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd_)) + 1);
  const int length = GetWindowTextA(hwnd_, text.data(), static_cast<int>(text.size()));
  std::string path(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
  if (FolderBrowser().Browse(path, hwnd_, flags_ & 1, title_)) SetWindowTextA(hwnd_, path.c_str());
}

std::string FolderEdit::ButtonCaption() const {
  return ResourceString(IDS_FOLDER_BUTTON);
}

std::string FolderEdit::ButtonTip() const {
  return ResourceString(IDS_FOLDER_TIP);
}

int FolderEdit::ButtonWidth(HWND parent, const RECT& editRect) const {
  HDC dc = GetDC(parent);
  if (!dc) return (editRect.bottom - editRect.top) * 8 / 10;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(parent, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
  const std::string caption = ButtonCaption();
  SIZE blanks{};
  SIZE text{};
  GetTextExtentPoint32A(dc, "    ", 4, &blanks);
  GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  POINT extent[2] = {{0, 0}, {blanks.cx + text.cx, 0}};
  LPtoDP(dc, extent, 2);
  if (previous) SelectObject(dc, previous);
  ReleaseDC(parent, dc);
  return extent[1].x - extent[0].x;
}

HWND FolderEdit::CreateButton() {
  HWND parent = GetParent(hwnd_);
  RECT rect{};
  GetWindowRect(hwnd_, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  const int width = ButtonWidth(parent, rect);
  const int height = rect.bottom - rect.top;

  // One pixel stays free between the edit and its button.
  SetWindowPos(hwnd_, nullptr, 0, 0, rect.right - rect.left - width - 1, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  const std::string caption = ButtonCaption();
  HWND button = CreateWindowExA(0, "BUTTON", caption.c_str(),
                                WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON,
                                rect.right - width, rect.top, width, height, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FOLDER_BUTTON)),
                                GetModuleHandleA(nullptr), nullptr);
  if (!button) return nullptr;
  // Right after the edit in the window order, so the tab key moves from the edit to it.
  SetWindowPos(button, hwnd_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  button_.Attach(button, this);
  SendMessageA(button, WM_SETFONT, SendMessageA(parent, WM_GETFONT, 0, 0), FALSE);
  return button;
}

LRESULT CALLBACK FolderEdit::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR, DWORD_PTR self) {
  auto* edit = reinterpret_cast<FolderEdit*>(self);
  if (message == WM_ENABLE && edit->button_.Handle()) {
    EnableWindow(edit->button_.Handle(), static_cast<BOOL>(wParam));
  } else if (message == WM_NCDESTROY) {
    edit->Detach();
  }
  return framework::DefaultSubclassProcedure(hwnd, message, wParam, lParam);
}

}  // namespace quorvel
