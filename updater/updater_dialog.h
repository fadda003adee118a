#pragma once
// The updater's window: the status lines of the run, the location line of the search and an
// "Exit" button. It starts the run by itself once it is shown.
#include <deque>
#include <string>

#include "framework/dialog.h"
#include "updater/update.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {

class UpdaterDialog : public framework::Dialog, public UpdateHost {
 public:
  UpdaterDialog();
  ~UpdaterDialog() override;

  void AddStatusLine(const std::string& line) override;
  std::uint32_t ComputePayloadCrc(int id) override;
  std::uint32_t ReadStoredCrc(int id) override;
  bool IsServiceRunning() override;
  bool StopService(std::string& targetPath) override;
  bool FileIsPresent(const std::string& path) override;
  void SearchForServiceProgram() override;
  std::deque<std::string>& FoundList() override { return found_; }
  bool SelectFile() override;
  bool AskToInstall() override;
  bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                         std::uint32_t& leastSignificant) override;
  bool WritePayloadFile(const std::string& target, const char* fileName, int id) override;
  bool SetAutorun(const std::string& path) override;

 protected:
  bool OnInitDialog() override;
  // Every OK command runs the update; there is no OK button, so it comes from our own post or
  // from Enter.
  void OnOK() override;
  void DoDataExchange(framework::FieldExchange& exchange) override;
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void UseFixedPitchStatusFont();

  std::string statusText_;
  HICON icon_;
  HFONT fixedFont_ = nullptr;
  std::deque<std::string> found_;
  Win32ServiceProcess service_;
  ResourcePayloadDisk payloadDisk_;
};

}  // namespace quorvel::updater
