#pragma once
// The Win32 side of a run, shared by the updater's window and the unattended run.
#include <deque>
#include <string>

#include "updater/uninstall.h"
#include "updater/update.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {

class Win32UpdateHost : public UninstallHost {
 public:
  // Every status line is also appended, with date and time, to `path` ("" for none).
  void SetLogFile(const std::string& path) { logFile_ = path; }

  std::uint32_t ComputePayloadCrc(int id) override;
  std::uint32_t ReadStoredCrc(int id) override;
  bool IsServiceRunning() override;
  bool StopService(std::string& targetPath) override;
  bool FileIsPresent(const std::string& path) override;
  std::deque<std::string>& FoundList() override { return found_; }
  bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                         std::uint32_t& leastSignificant) override;
  bool WritePayloadSet(const std::string& target, const std::vector<PayloadFile>& files) override;
  bool InstallationIsComplete(const std::string& target) override;
  bool IsReleaseCopy(const std::string& path) override;
  bool LibraryMatchesPayload(const std::string& target, const char* fileName, int id) override;
  bool SetAutorun(const std::string& path) override;
  std::string ReadAutorun() override;
  StartResult StartProgramAt(const std::string& path) override;
  bool InstallUninstaller(const std::string& path) override;
  bool WriteUninstallEntry(const UninstallEntry& entry) override;
  std::uint64_t FileSize(const std::string& path) override;
  std::string GetCompanyName(const std::string& path) override;
  std::string ReadUninstallEntryProgram() override;
  bool RemoveAutorun() override;
  bool RemoveUninstallEntry() override;
  bool RemoveFile(const std::string& path) override;
  std::string OwnImagePath() override;
  SelfRemoval RemoveOwnImage(const std::string& path) override;
  std::vector<std::string> FolderContents(const std::string& folder) override;
  bool RemoveFolder(const std::string& folder) override;
  std::string ReadDataFolder() override;

 protected:
  void LogStatusLine(const std::string& line);

 private:
  std::string logFile_;
  std::deque<std::string> found_;
  Win32ServiceProcess service_;
  ResourcePayloadDisk payloadDisk_;
};

// The run of /quiet: no window, no questions; the status lines go to the log file alone.
class QuietUpdateHost : public Win32UpdateHost {
 public:
  void AddStatusLine(const std::string& line) override { LogStatusLine(line); }
  void SearchForServiceProgram() override;
  // An unattended run decides without asking (RunUpdate), so these are never called.
  bool SelectFile() override { return false; }
  bool AskToInstall() override { return false; }
};

// True when `path` can be opened for appending (created if missing).
bool CanAppendTo(const std::string& path);

}  // namespace quorvel::updater
