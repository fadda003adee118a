#include "service/dialogs/options_dialog.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "service/boxlink/port_enumeration.h"
#include "service/dialogs/about_dialog.h"
#include "service/dialogs/folder_edit.h"
#include "service/dialogs/options_result.h"
#include "service/dialogs/options_values.h"
#include "service/dialogs/resource_string.h"
#include "service/resources/resource.h"

namespace quorvel {
namespace {

constexpr UINT kAboutCommand = 16;
constexpr const char* kFolderTitle = "Please specify a folder";
constexpr const char* kNoPortsQuestion = "You have no COM ports selected.  Continue anyway?";

class OptionsDialog : public framework::Dialog {
 public:
  // `save` writes the settings as the fields stand; nothing, or what failed.
  using Save = std::function<std::optional<WriteFailure>()>;
  OptionsDialog(OptionsValues& values, FileSystem& files, Save save)
      : Dialog(IDD_OPTIONS), values_(values), files_(files), save_(std::move(save)) {}

 protected:
  bool OnInitDialog() override;
  bool OnCommand(WORD id, WORD notification, HWND control) override;
  void OnOK() override;
  // There is no cancel: Escape, the close box and Alt+F4 leave the dialog as it is.
  void OnCancel() override {}
  void DoDataExchange(framework::FieldExchange& exchange) override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void AddAboutEntry();
  void SetIcons();
  void AttachSpin(int spinId, int editId, int lowest, int highest);
  void FillPortList();
  bool ReadPortSelection();
  void CloseWith(int result);
  bool SaveSettings();
  bool Ask(const std::string& question);

  OptionsValues& values_;
  FileSystem& files_;
  Save save_;
  std::vector<unsigned> portsFound_;
  FolderEdit folder_;
  HICON icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_QUORVELD));
};

bool OptionsDialog::OnInitDialog() {
  UpdateData(false);
  AddAboutEntry();
  SetIcons();
  AttachSpin(IDC_BOX_RATE_SPIN, IDC_BOX_RATE, 1, 48);
  AttachSpin(IDC_UPLOAD_RATE_SPIN, IDC_UPLOAD_RATE, 1, 24);
  FillPortList();
  BringWindowToTop(Handle());
  return true;
}

void OptionsDialog::DoDataExchange(framework::FieldExchange& exchange) {
  exchange.Unsigned(IDC_BOX_RATE, values_.boxRate, 1, 48);
  exchange.Unsigned(IDC_UPLOAD_RATE, values_.uploadRate, 1, 24);
  folder_.Attach(Handle(), IDC_LOCAL_DIR, 0, kFolderTitle);
  exchange.Text(IDC_LOCAL_DIR, values_.localDir);
  exchange.Check(IDC_LOGGING, values_.logging);
  exchange.Text(IDC_SERVER_DOMAIN, values_.serverDomain);
  exchange.Unsigned(IDC_SERVER_PORT, values_.serverPort, 0, 65535);
  exchange.Check(IDC_SYNCHRONIZE_CLOCKS, values_.synchronizeClocks);
  exchange.Check(IDC_ENCRYPT, values_.encrypt);
  exchange.Check(IDC_IGNORE_PROXY, values_.ignoreProxy);
}

void OptionsDialog::AddAboutEntry() {
  const std::string entry = ResourceString(IDS_ABOUT_ENTRY);
  HMENU menu = GetSystemMenu(Handle(), FALSE);
  if (!menu || entry.empty()) return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kAboutCommand, entry.c_str());
}

void OptionsDialog::SetIcons() {
  SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void OptionsDialog::AttachSpin(int spinId, int editId, int lowest, int highest) {
  HWND spin = Item(spinId);
  SendMessageA(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(Item(editId)), 0);
  SendMessageA(spin, UDM_SETRANGE32, static_cast<WPARAM>(lowest), highest);
}

void OptionsDialog::FillPortList() {
  // The device-setup list is the better source, but some systems (Wine among them) keep it
  // empty although their ports answer the default-configuration query.
  if (!EnumeratePortsSetupApi(portsFound_) || portsFound_.empty())
    EnumeratePortsByConfig(portsFound_);
  HWND list = Item(IDC_PORT_LIST);
  for (const PortItem& item :
       PortItems(portsFound_, values_.portFlags, ResourceString(IDS_PORT_ITEM))) {
    const LRESULT position =
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
    if (position < 0) continue;
    SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(position), item.data);
    if (item.selected) SendMessageA(list, LB_SETSEL, TRUE, position);
  }
}

bool OptionsDialog::ReadPortSelection() {
  HWND list = Item(IDC_PORT_LIST);
  const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
  std::vector<long long> selectedData;
  if (count > 0) {
    std::vector<int> positions(static_cast<std::size_t>(count));
    const LRESULT fetched = SendMessageA(list, LB_GETSELITEMS, static_cast<WPARAM>(count),
                                         reinterpret_cast<LPARAM>(positions.data()));
    for (LRESULT i = 0; i < fetched; ++i) {
      // Item data is stored as a signed int: port 0 was listed as -1.
      const auto data = static_cast<int>(
          SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(positions[i]), 0));
      selectedData.push_back(data);
    }
  }
  return FlagsFromSelection(selectedData, values_.portFlags);
}

bool OptionsDialog::OnCommand(WORD id, WORD notification, HWND control) {
  if (folder_.HandleCommand(id, notification, control)) return true;
  switch (id) {
    case IDC_SHUT_DOWN:
      CloseWith(kOptionsShutDown);
      return true;
    case IDC_BOX_TEST:
      CloseWith(kOptionsBoxTest);
      return true;
    case IDC_SERVER_TEST:
      CloseWith(kOptionsServerTest);
      return true;
    default:
      return Dialog::OnCommand(id, notification, control);
  }
}

// "Shut Down" and both "Test" buttons: the caller reports a test without a port itself.
void OptionsDialog::CloseWith(int result) {
  if (!UpdateData(true)) return;
  ReadPortSelection();
  SaveSettings();
  EndDialog(result);
}

void OptionsDialog::OnOK() {
  if (!UpdateData(true)) return;
  if (!ReadPortSelection() && !Ask(kNoPortsQuestion)) return;
  const std::string problems = CheckLocalFiles(files_, values_.localDir);
  if (!problems.empty() && !Ask(problems)) return;
  if (!SaveSettings()) return;
  EndDialog(kOptionsOk);
}

// False, after saying so over the dialog, when the settings could not be written.
bool OptionsDialog::SaveSettings() {
  const auto failure = save_();
  if (!failure) return true;
  MessageBoxA(Handle(), NotSavedMessage(*failure).c_str(), ProgramTitle().c_str(),
              MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool OptionsDialog::Ask(const std::string& question) {
  return MessageBoxA(Handle(), question.c_str(), ProgramTitle().c_str(),
                     MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) == IDYES;
}

INT_PTR OptionsDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != kAboutCommand) return FALSE;
      AboutDialog::Show(Handle());
      return TRUE;
    case WM_PAINT:
      return PaintIconWhenMinimised(icon_) ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      return Dialog::HandleMessage(message, wParam, lParam);
  }
}

}  // namespace

int ShowOptionsDialog(Settings& settings, ProfileStore& store, FileSystem& files) {
  OptionsValues values = ValuesFromSettings(settings);
  OptionsDialog dialog(values, files, [&] {
    Settings edited = settings;
    StoreValues(values, edited);
    return SaveSettings(store, files, edited);
  });
  const auto result = static_cast<int>(dialog.DoModal());
  StoreValues(values, settings);
  return result;
}

}  // namespace quorvel
