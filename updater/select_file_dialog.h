#pragma once
// The chooser among several found copies of the service program.
#include <deque>
#include <string>

#include "framework/dialog.h"

namespace quorvel::updater {

class SelectFileDialog : public framework::Dialog {
 public:
  SelectFileDialog();
  // The list to choose from; the chooser empties it and, on OK, leaves the chosen path alone
  // in it. Not owned.
  void SetFoundList(std::deque<std::string>& found) { found_ = &found; }

 protected:
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  std::deque<std::string>* found_ = nullptr;
};

}  // namespace quorvel::updater
