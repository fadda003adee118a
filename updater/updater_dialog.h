#pragma once
// The updater's window: the status lines of the run, the location line of the search and an
// "Exit" button. It starts the run by itself once it is shown.
#include <deque>
#include <string>

#include "framework/dialog.h"
#include "updater/win32_update_host.h"

namespace quorvel::updater {

class UpdaterDialog : public framework::Dialog, public Win32UpdateHost {
 public:
  UpdaterDialog();
  ~UpdaterDialog() override;

  // What the command line asked of every run (/target, /start, /uninstall).
  void SetRunOptions(const RunOptions& options) { options_ = options; }
  // How the last run ended.
  RunOutcome Outcome() const { return outcome_; }

  void AddStatusLine(const std::string& line) override;
  void SearchForServiceProgram() override;
  bool SelectFile() override;
  bool AskToInstall() override;

 protected:
  bool OnInitDialog() override;
  // Every OK command runs the update (or the uninstall); there is no OK button, so it comes from our own post or
  // from Enter.
  void OnOK() override;
  void DoDataExchange(framework::FieldExchange& exchange) override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void UseFixedPitchStatusFont();

  std::string statusText_;
  HICON icon_;
  HFONT fixedFont_ = nullptr;
  RunOptions options_;
  RunOutcome outcome_ = RunOutcome::Done;
};

}  // namespace quorvel::updater
