#pragma once
// The installation's entry in the system's list of installed programs, and its removal
// (/uninstall). The updater leaves a copy of itself in the program's folder, which the entry's
// commands run, so that they work once the release the installation came from is gone.
#include <string>
#include <vector>

#include "updater/payload.h"
#include "updater/update.h"

namespace quorvel::updater {

// The updater's copy in the program's folder, and the entry's key under HKEY_LOCAL_MACHINE.
inline constexpr char kUninstallerName[] = "quorvel-uninstall.exe";
inline constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvel";
inline constexpr char kDisplayName[] = "Quorvel client";
// The publisher named when the program's version information names no company.
inline constexpr char kPublisher[] = "Quorvel";

enum class SelfRemoval {
  Gone,       // the file is no longer in the folder
  AtRestart,  // the system deletes it at the next restart
  Failed,
};

// What an uninstall does besides what an update does.
class UninstallHost : public UpdateHost {
 public:
  // The program path the uninstall entry names (in either registry view); "" when there is none.
  virtual std::string ReadUninstallEntryProgram() = 0;
  // Removes the autorun value from both registry views; true when neither holds one any more.
  virtual bool RemoveAutorun() = 0;
  // Removes the uninstall entry from both registry views; true when neither holds one any more.
  virtual bool RemoveUninstallEntry() = 0;
  // Deletes the file at `path`; true when no file is there any more.
  virtual bool RemoveFile(const std::string& path) = 0;
  // The full path of the running updater's own file.
  virtual std::string OwnImagePath() = 0;
  // Removes the running updater's own file, which the system keeps while it runs.
  virtual SelfRemoval RemoveOwnImage(const std::string& path) = 0;
  // The names of what is in `folder` ("C:\quorvl\"), files and folders.
  virtual std::vector<std::string> FolderContents(const std::string& folder) = 0;
  // Removes the folder when it is empty; true when it is gone.
  virtual bool RemoveFolder(const std::string& folder) = 0;
  // The folder the service's settings name for its log and cache; "" when they name none.
  virtual std::string ReadDataFolder() = 0;
};

// Command line of the uninstaller at `uninstaller` for the program at `target`, quoted so that it
// runs as written from any folder.
std::string UninstallCommand(const std::string& uninstaller, const std::string& target, bool quiet);

// The entry for the program installed at `target`.
UninstallEntry EntryFor(UpdateHost& host, const std::string& target);

// Puts the uninstaller beside the program at `target`, then writes the entry that names it;
// false when either fails.
bool RegisterUninstall(UpdateHost& host, const std::string& target);

// Copies `source` to `target` whole or not at all, through a staged file beside the target.
bool CopyInstalledFile(PayloadDisk& disk, const std::string& source, const std::string& target);

// Removes the installation: the autorun value, the program and libraries (with any temporary
// files a cut-short update left), the uninstaller, the folder when nothing else is in it, and
// the entry last. Data files stay. A run cut short at any step leaves either the registered
// installation or one that the entry still names, which the next run finishes.
RunOutcome RunUninstall(UninstallHost& host, const RunOptions& options = {});

}  // namespace quorvel::updater
