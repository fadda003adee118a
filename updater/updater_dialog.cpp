#include "updater/updater_dialog.h"

#include "updater/resources/resource.h"
#include "updater/select_file_dialog.h"
#include "updater/uninstall.h"

namespace quorvel::updater {

UpdaterDialog::UpdaterDialog()
    : Dialog(IDD_UPDATER),
      icon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_UPDATER))) {}

UpdaterDialog::~UpdaterDialog() {
  if (fixedFont_) DeleteObject(fixedFont_);
}

bool UpdaterDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  UseFixedPitchStatusFont();
  // Handled once the modal loop runs, that is after the window has been shown.
  PostMessageA(Handle(), WM_COMMAND, IDOK, 0);
  return true;
}

void UpdaterDialog::UseFixedPitchStatusFont() {
  // The dialog font's height and weight, in whatever fixed-pitch face the font mapper picks.
  auto font = reinterpret_cast<HFONT>(SendMessageA(Item(IDC_LOCATION_LINE), WM_GETFONT, 0, 0));
  LOGFONTA description;
  if (!font || !GetObjectA(font, sizeof(description), &description)) return;
  description.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  description.lfFaceName[0] = '\0';
  fixedFont_ = CreateFontIndirectA(&description);
  if (fixedFont_) {
    SendMessageA(Item(IDC_STATUS_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(fixedFont_), TRUE);
  }
}

void UpdaterDialog::OnOK() {
  outcome_ = options_.uninstall ? RunUninstall(*this, options_) : RunUpdate(*this, options_);
}

void UpdaterDialog::DoDataExchange(framework::FieldExchange& exchange) {
  exchange.Text(IDC_STATUS_TEXT, statusText_);
}

INT_PTR UpdaterDialog::HandleMessage(UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_PAINT:
      return PaintIconWhenMinimised(icon_) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      return FALSE;
  }
}

void UpdaterDialog::AddStatusLine(const std::string& line) {
  statusText_ += line + "\r\n";
  UpdateData(false);
  // The run does not return to the message loop between lines: paint each one now.
  RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  LogStatusLine(line);
}

void UpdaterDialog::SearchForServiceProgram() {
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  Win32SearchDisk disk(Handle(), Item(IDC_LOCATION_LINE));
  updater::SearchForServiceProgram(disk, FoundList());
  SetCursor(previous);
}

bool UpdaterDialog::SelectFile() {
  SelectFileDialog chooser;
  chooser.SetFoundList(FoundList());
  return chooser.DoModal() == IDOK;
}

bool UpdaterDialog::AskToInstall() {
  return MessageBoxA(Handle(), "Unable to find file.\r\nWould you like to install at c:\\quorvl?",
                     "Service not found", MB_YESNO) == IDYES;
}

}  // namespace quorvel::updater
