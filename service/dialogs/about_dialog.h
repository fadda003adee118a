#pragma once
// The About box: the program's icon and its product version.
#include <windows.h>

#include <string>

#include "framework/dialog.h"

namespace quorvel {

class AboutDialog : public framework::Dialog {
 public:
  AboutDialog();
  // Shows the box over `owner` until the operator closes it.
  static void Show(HWND owner);

 protected:
  void DoDataExchange(framework::FieldExchange& exchange) override;

 private:
  std::string version_ = "Unknown";
};

}  // namespace quorvel
