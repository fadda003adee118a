#include "updater/uninstall.h"

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

// What a cut-short update may have left beside each file (see payload.h).
constexpr const char* kTemporarySuffixes[] = {".new", ".old"};
// Programs of the release that the site places beside the service itself.
constexpr const char* kPlacedBesideProgram[] = {"quorvel-status.exe"};

std::string UninstallerPathFor(const std::string& target) {
  return DirectoryOf(target) + kUninstallerName;
}

// "C:\quorvl" for "C:\quorvl\quorveld.exe"; a drive's root keeps its backslash.
std::string FolderOf(const std::string& target) {
  std::string folder = DirectoryOf(target);
  if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// The program and its libraries, each followed by its temporary files; the program first, so
// that once anything is gone nothing can start.
std::vector<std::string> InstalledFiles(const std::string& target) {
  std::vector<std::string> paths;
  for (const PayloadFile& file : kInstallationFiles) {
    const std::string path = file.fileName ? DirectoryOf(target) + file.fileName : target;
    paths.push_back(path);
    for (const char* suffix : kTemporarySuffixes) paths.push_back(path + suffix);
  }
  return paths;
}

bool AnythingInstalledAt(UninstallHost& host, const std::string& target) {
  if (host.FileIsPresent(UninstallerPathFor(target))) return true;
  for (const std::string& path : InstalledFiles(target)) {
    if (host.FileIsPresent(path)) return true;
  }
  return false;
}

// The installation to remove: the one asked for, else the one the autorun value starts, else
// the one the entry names (a run cut short after removing the autorun value leaves only that).
std::string ChooseTarget(const RunOptions& options, const std::string& autorun,
                         const std::string& fromEntry) {
  if (!options.target.empty()) return options.target;
  return autorun.empty() ? fromEntry : autorun;
}

RunOutcome Failed(UninstallHost& host) {
  host.AddStatusLine("Uninstall failed.");
  return RunOutcome::Failed;
}

// Removes the uninstaller; when it is the running updater the system keeps the file while it
// runs, so it is moved away or left to the next restart. False when it stays.
bool RemoveUninstaller(UninstallHost& host, const std::string& path, bool& atRestart) {
  if (!SameWindowsPath(path, host.OwnImagePath())) return host.RemoveFile(path);
  const SelfRemoval removal = host.RemoveOwnImage(path);
  atRestart = removal == SelfRemoval::AtRestart;
  if (atRestart) host.AddStatusLine("Removed at the next restart: " + path);
  return removal != SelfRemoval::Failed;
}

// Removes every file but the program; true when all are gone.
bool RemoveRemainingFiles(UninstallHost& host, const std::string& target, bool& atRestart) {
  std::vector<std::string> left;
  const std::vector<std::string> files = InstalledFiles(target);
  for (std::size_t i = 1; i < files.size(); ++i) {
    if (!host.RemoveFile(files[i])) left.push_back(files[i]);
  }
  for (const char* name : kPlacedBesideProgram) {
    const std::string path = DirectoryOf(target) + name;
    if (!host.RemoveFile(path)) left.push_back(path);
  }
  const std::string uninstaller = UninstallerPathFor(target);
  if (!host.RemoveFile(uninstaller + ".new") || !RemoveUninstaller(host, uninstaller, atRestart)) {
    left.push_back(uninstaller);
  }
  for (const std::string& path : left) host.AddStatusLine("Could not remove: " + path);
  return left.empty();
}

// Says what stays in the program's folder (the log, the counts cache and other data, never
// deleted here), and removes the folder when nothing does.
void RemoveFolderOrSayWhatStays(UninstallHost& host, const std::string& target, bool atRestart) {
  const std::string folder = DirectoryOf(target);
  bool empty = true;
  for (const std::string& name : host.FolderContents(folder)) {
    if (atRestart && SameWindowsPath(name, kUninstallerName)) continue;
    host.AddStatusLine("Kept: " + folder + name);
    empty = false;
  }
  if (empty && !atRestart && host.RemoveFolder(folder)) {
    host.AddStatusLine("Folder removed: " + FolderOf(target));
  }
  const std::string data = host.ReadDataFolder();
  if (!data.empty() && !SameWindowsPath(JoinPath(data, ""), folder)) {
    host.AddStatusLine("Kept: the log and counts cache in " + data);
  }
}

}  // namespace

std::string UninstallCommand(const std::string& uninstaller, const std::string& target,
                             bool quiet) {
  return "\"" + uninstaller + "\" /uninstall \"/target=" + target + "\"" + (quiet ? " /quiet" : "");
}

UninstallEntry EntryFor(UpdateHost& host, const std::string& target) {
  UninstallEntry entry;
  const std::string uninstaller = UninstallerPathFor(target);
  entry.displayName = kDisplayName;
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
  if (host.GetProductVersion(target, mostSignificant, leastSignificant)) {
    entry.displayVersion = FormatVersion(mostSignificant, leastSignificant);
  }
  entry.publisher = host.GetCompanyName(target);
  if (entry.publisher.empty()) entry.publisher = kPublisher;
  entry.installLocation = FolderOf(target);
  entry.displayIcon = target;
  std::uint64_t bytes = host.FileSize(uninstaller);
  for (const PayloadFile& file : kInstallationFiles) {
    bytes += host.FileSize(file.fileName ? DirectoryOf(target) + file.fileName : target);
  }
  entry.estimatedSizeKb = static_cast<std::uint32_t>((bytes + 1023) / 1024);
  entry.uninstallString = UninstallCommand(uninstaller, target, false);
  entry.quietUninstallString = UninstallCommand(uninstaller, target, true);
  return entry;
}

bool RegisterUninstall(UpdateHost& host, const std::string& target) {
  // The file first: an entry never names an uninstaller that is not there.
  return host.InstallUninstaller(UninstallerPathFor(target)) &&
         host.WriteUninstallEntry(EntryFor(host, target));
}

bool CopyInstalledFile(PayloadDisk& disk, const std::string& source, const std::string& target) {
  const std::string staged = target + ".new";
  if (disk.CopyCommitted(source, staged) && disk.Replace(staged, target)) return true;
  disk.Remove(staged);
  return false;
}

RunOutcome RunUninstall(UninstallHost& host, const RunOptions& options) {
  host.AddStatusLine("Starting uninstall.");
  const std::string autorun = host.ReadAutorun();
  const std::string fromEntry = host.ReadUninstallEntryProgram();
  const std::string target = ChooseTarget(options, Unquoted(autorun), fromEntry);
  if (target.empty() ||
      (autorun.empty() && fromEntry.empty() && !AnythingInstalledAt(host, target))) {
    host.AddStatusLine("Nothing installed.");
    return RunOutcome::NothingDone;
  }
  host.AddStatusLine("Installation: " + target);
  if (host.IsServiceRunning()) {
    host.AddStatusLine("quorveld is running.");
    std::string ignored = target;
    if (!host.StopService(ignored)) {
      host.AddStatusLine("The program doesn't want to shut down.");
      return Failed(host);
    }
  }
  // First, so that a run cut short never leaves a value that starts a missing program.
  if (!host.RemoveAutorun()) {
    host.AddStatusLine("Failed to remove autorun registry key.");
    return Failed(host);
  }
  host.AddStatusLine("Autorun registry key removed.");
  if (!host.RemoveFile(target)) {
    host.AddStatusLine("Could not remove: " + target);
    // Nothing is gone yet: the installation starts at log-on again as it did.
    if (!autorun.empty() && SameWindowsPath(Unquoted(autorun), target)) host.SetAutorun(autorun);
    return Failed(host);
  }
  bool atRestart = false;
  if (!RemoveRemainingFiles(host, target, atRestart)) return Failed(host);
  host.AddStatusLine("Program and libraries removed.");
  RemoveFolderOrSayWhatStays(host, target, atRestart);
  // Last: until here the entry leads the next run to what is left.
  if (!host.RemoveUninstallEntry()) {
    host.AddStatusLine("Failed to remove the uninstall entry.");
    return Failed(host);
  }
  host.AddStatusLine("Uninstall entry removed.");
  host.AddStatusLine("Uninstall successful.");
  return RunOutcome::Done;
}

}  // namespace quorvel::updater
