#pragma once
// The updater's Win32 side: its own resources, the running service, the disk and the registry.
#include <windows.h>

#include <cstdint>
#include <string>

#include "updater/payload.h"
#include "updater/search.h"
#include "updater/service_stop.h"
#include "updater/uninstall.h"
#include "updater/update.h"

namespace quorvel::updater {

// CRC-32 of the "EXE" resource `id` of our image; 0 when it is missing.
std::uint32_t ComputePayloadCrc(int id);
// The number that the "CRC32" resource `id` starts with; 0 when it is missing or holds none.
std::uint32_t ReadStoredCrc(int id);

class ResourcePayloadDisk : public PayloadDisk {
 public:
  bool HasPayload(int id) override;
  DirectoryResult MakeDirectory(const std::string& path) override;
  bool SecureFolder(const std::string& directory) override;
  bool SecureProgramFile(const std::string& path) override;
  bool WritePayload(const std::string& path, int id) override;
  bool CopyCommitted(const std::string& source, const std::string& target) override;
  bool Replace(const std::string& source, const std::string& target) override;
  bool Exists(const std::string& path) override;
  bool OnlyAdministrationMayChange(const std::string& path) override;
  void Remove(const std::string& path) override;
  void ClearReadOnly(const std::string& path) override;
  void Pause(unsigned milliseconds) override { Sleep(milliseconds); }
  std::string ReadFileBytes(const std::string& path, std::uint32_t offset,
                            std::size_t count) override;
  std::string ReadPayloadBytes(int id, std::uint32_t offset, std::size_t count) override;
};

// True when the service's mutex (the session's or the machine-wide one) exists, or a process of
// the service program runs in any session.
bool IsServiceRunning();
// Full path of the module "quorveld.exe" (exact letter case) in process `processId`, or "".
std::string FindModulePath(DWORD processId);
// True when a file is at `path`, also when it is in use, locked or protected.
bool FileIsPresent(const std::string& path);

class Win32ServiceProcess : public ServiceProcess {
 public:
  Win32ServiceProcess() = default;
  ~Win32ServiceProcess() override;
  Win32ServiceProcess(const Win32ServiceProcess&) = delete;
  Win32ServiceProcess& operator=(const Win32ServiceProcess&) = delete;

  bool OpenServiceMutex() override;
  bool FindServiceProcess() override;
  bool FindServiceWindow() override;
  bool OpenProcess() override;
  std::string ModulePath() override { return FindModulePath(processId_); }
  long long AskToClose() override;
  bool WaitForServiceToEnd(unsigned milliseconds) override;
  void Terminate(unsigned exitCode, unsigned milliseconds) override;
  bool HasEnded() override;
  void CloseProcess() override;
  // Lets go of the service's mutex, so that a service started now can run.
  void ReleaseServiceMutex();

 private:
  // Kept open until the updater ends, or until /start lets go of it: while it is open no new
  // service can start.
  HANDLE mutex_ = nullptr;
  HWND window_ = nullptr;
  DWORD foundProcessId_ = 0;
  DWORD processId_ = 0;
  HANDLE process_ = nullptr;
};

// The fixed drives, listed through the ANSI find functions; progress goes to the location
// line of `window` (none without a window).
class Win32SearchDisk : public SearchDisk {
 public:
  Win32SearchDisk(HWND window, HWND locationLine) : window_(window), location_(locationLine) {}
  std::vector<std::string> FixedDriveRoots() override;
  std::vector<DirectoryEntry> List(const std::string& pattern) override;
  void ShowLocation(const std::string& directory, bool redrawWindow) override;

 private:
  HWND window_;
  HWND location_;
};

bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                       std::uint32_t& leastSignificant);
// Makes the service start when a user logs on; false when the key or value cannot be written.
bool SetAutorun(const std::string& programPath);
// The autorun value's text; "" when it is missing or not text.
std::string ReadAutorun();
// Removes the autorun value from both registry views; true when neither holds one any more.
bool RemoveAutorun();
// The CompanyName of the version information of the program at `path`; "" when it has none.
std::string GetCompanyName(const std::string& path);

// The uninstall entry, written in the updater's registry view; see uninstall.h.
bool WriteUninstallEntry(const UninstallEntry& entry);
std::string ReadUninstallEntryProgram();
bool RemoveUninstallEntry();
// The running updater's own file, and its removal while it runs.
std::string OwnImagePath();
SelfRemoval RemoveOwnImage(const std::string& path);
std::vector<std::string> FolderContents(const std::string& folder);
bool RemoveFolder(const std::string& folder);
// LocalDir of the service's settings; "" when it is not set.
std::string ReadDataFolder();
std::uint64_t FileSize(const std::string& path);
// Starts the program at `path` in its own folder, in the logged-on user's session when the
// updater runs in the services' session, and waits a few seconds to see it running.
StartResult StartProgram(const std::string& path);

}  // namespace quorvel::updater
