#include "framework/dialog.h"

#include <vector>

#include "framework/field_values.h"

namespace quorvel::framework {

HWND FieldExchange::Control(int controlId) const {
  return dialog_.Item(controlId);
}

void FieldExchange::Fail(int controlId, const std::string& message) {
  failed_ = true;
  MessageBoxA(dialog_.Handle(), message.c_str(), Dialog::ProgramTitle().c_str(),
              MB_OK | MB_ICONEXCLAMATION);
  HWND control = Control(controlId);
  SetFocus(control);
  SendMessageA(control, EM_SETSEL, 0, -1);
}

void FieldExchange::Text(int controlId, std::string& value) {
  if (failed_) return;
  HWND control = Control(controlId);
  if (!save_) {
    SetWindowTextA(control, value.c_str());
    return;
  }
  // WM_GETTEXTLENGTH may overstate the length, never understate it.
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1);
  const int length = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
  value.assign(text.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

void FieldExchange::Check(int controlId, int& value) {
  if (failed_) return;
  HWND control = Control(controlId);
  if (!save_) {
    SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(CheckStateToShow(value)), 0);
    return;
  }
  value = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void FieldExchange::Unsigned(int controlId, unsigned& value, unsigned minimum, unsigned maximum) {
  if (failed_) return;
  if (!save_) {
    SetWindowTextA(Control(controlId), std::to_string(value).c_str());
    return;
  }
  std::string text;
  Text(controlId, text);
  switch (ParseUnsignedField(text, minimum, maximum, value)) {
    case UnsignedFieldResult::Valid:
      break;
    case UnsignedFieldResult::NoNumber:
      Fail(controlId, kNoNumberMessage);
      break;
    case UnsignedFieldResult::OutOfRange:
      Fail(controlId, RangeMessage(minimum, maximum));
      break;
  }
}

Dialog::~Dialog() {
  if (hwnd_) {
    // The object goes first: unhook it so late messages find no object.
    SetWindowLongPtrA(hwnd_, DWLP_USER, 0);
  }
}

INT_PTR Dialog::DoModal(HWND parent) {
  if (!parent) parent = GetActiveWindow();
  return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent,
                         &Dialog::Procedure, reinterpret_cast<LPARAM>(this));
}

void Dialog::EndDialog(INT_PTR result) {
  ::EndDialog(hwnd_, result);
}

bool Dialog::UpdateData(bool save) {
  FieldExchange exchange(*this, save);
  DoDataExchange(exchange);
  return !exchange.Failed();
}

std::string Dialog::ProgramTitle() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string title = path;
  const std::size_t slash = title.find_last_of("\\/");
  if (slash != std::string::npos) title.erase(0, slash + 1);
  const std::size_t dot = title.rfind('.');
  if (dot != std::string::npos) title.erase(dot);
  return title;
}

bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

bool Dialog::OnCommand(WORD id, WORD, HWND) {
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void Dialog::OnCancel() {
  EndDialog(IDCANCEL);
}

INT_PTR Dialog::HandleMessage(UINT, WPARAM, LPARAM) {
  return FALSE;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return TRUE;
      return HandleMessage(message, wParam, lParam);
    default:
      return HandleMessage(message, wParam, lParam);
  }
}

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self) return FALSE;
  const INT_PTR result = self->Dispatch(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

bool Dialog::PaintIconWhenMinimised(HICON icon) {
  if (!IsIconic(hwnd_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(hwnd_, &paint);
  return true;
}

}  // namespace quorvel::framework
