#include "updater/select_file_dialog.h"

#include <vector>

#include "updater/resources/resource.h"

namespace quorvel::updater {

SelectFileDialog::SelectFileDialog() : Dialog(IDD_SELECT_FILE) {}

bool SelectFileDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  // Inserting at the top bypasses the list's sorting: the copy found last is offered first.
  HWND list = Item(IDC_FOUND_LIST);
  while (!found_->empty()) {
    SendMessageA(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(found_->front().c_str()));
    found_->pop_front();
  }
  return true;
}

void SelectFileDialog::OnOK() {
  found_->clear();
  HWND list = Item(IDC_FOUND_LIST);
  const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (selected != LB_ERR) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length != LB_ERR) {
      std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
      SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(selected),
                   reinterpret_cast<LPARAM>(text.data()));
      found_->push_back(text.data());
    }
  }
  Dialog::OnOK();
}

}  // namespace quorvel::updater
