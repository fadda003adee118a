#include "service/dialogs/about_dialog.h"

#include "service/platform/win32/win32_platform.h"
#include "service/resources/resource.h"

namespace quorvel {

AboutDialog::AboutDialog() : Dialog(IDD_ABOUT) {}

void AboutDialog::Show(HWND owner) {
  AboutDialog box;
  const std::string version = FileProductVersion(ProgramFilePath());
  if (!version.empty()) box.version_ = version;
  box.DoModal(owner);
}

void AboutDialog::DoDataExchange(framework::FieldExchange& exchange) {
  exchange.Text(IDC_VERSION, version_);
}

}  // namespace quorvel
