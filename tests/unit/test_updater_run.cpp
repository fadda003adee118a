// The update run and the stop of a running service, step by step through their status lines.
#include <doctest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "updater/paths.h"
#include "updater/payload.h"
#include "updater/service_stop.h"
#include "updater/start_session.h"
#include "updater/update.h"

using namespace quorvel::updater;

namespace {

using Lines = std::vector<std::string>;

class FakeHost : public UpdateHost {
 public:
  void AddStatusLine(const std::string& line) override { lines.push_back(line); }
  std::uint32_t ComputePayloadCrc(int id) override { return computed[id]; }
  std::uint32_t ReadStoredCrc(int id) override { return stored[id]; }
  bool IsServiceRunning() override { return running; }
  bool StopService(std::string& targetPath) override {
    lines.push_back("(stop)");
    targetPath = pathFromStop;
    return stopResult;
  }
  bool FileIsPresent(const std::string& path) override { return present.count(path) != 0; }
  void SearchForServiceProgram() override {
    lines.push_back("(search)");
    for (const std::string& path : onDisk) found.push_back(path);
  }
  std::deque<std::string>& FoundList() override { return found; }
  bool SelectFile() override {
    lines.push_back("(chooser of " + std::to_string(found.size()) + ")");
    found.clear();
    if (!choice.empty()) found.push_back(choice);
    return chooserOk;
  }
  bool AskToInstall() override {
    lines.push_back("(question)");
    return installYes;
  }
  bool GetProductVersion(const std::string& path, std::uint32_t& ms, std::uint32_t& ls) override {
    auto it = versions.find(path);
    if (it == versions.end()) return false;
    ms = it->second.first;
    ls = it->second.second;
    return true;
  }
  bool WritePayloadSet(const std::string& target, const std::vector<PayloadFile>& files) override {
    bool whole = true;
    for (const PayloadFile& file : files) {
      writes.push_back(target + "|" + (file.fileName ? file.fileName : "") + "|" +
                       std::to_string(file.id));
      if (failingIds.count(file.id)) whole = false;
    }
    if (whole) versions[target] = {0x00010000, 0x00040002};
    return whole;
  }
  bool InstallationIsComplete(const std::string&) override { return complete; }
  bool IsReleaseCopy(const std::string& path) override { return releaseCopies.count(path) != 0; }
  bool LibraryMatchesPayload(const std::string& target, const char* fileName, int) override {
    return misfits.count(DirectoryOf(target) + fileName) == 0;
  }
  bool SetAutorun(const std::string& path) override {
    autorun = path;
    return autorunWorks;
  }
  std::string ReadAutorun() override { return autorunBefore; }
  StartResult StartProgramAt(const std::string& path) override {
    lines.push_back("(start " + path + ")");
    return startResult;
  }
  bool InstallUninstaller(const std::string& path) override {
    uninstaller = path;
    return uninstallerWorks;
  }
  bool WriteUninstallEntry(const UninstallEntry& written) override {
    entry = written;
    return entryWorks;
  }
  std::uint64_t FileSize(const std::string&) override { return 0; }
  std::string GetCompanyName(const std::string&) override { return ""; }

  Lines lines;
  std::map<int, std::uint32_t> computed{{130, 0x11}, {131, 0x22}, {132, 0x33}};
  std::map<int, std::uint32_t> stored{{130, 0x11}, {131, 0x22}, {132, 0x33}};
  bool running = false;
  std::string pathFromStop;
  bool stopResult = true;
  std::set<std::string> present;
  std::vector<std::string> onDisk;
  std::deque<std::string> found;
  std::string choice;
  bool chooserOk = true;
  bool installYes = true;
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> versions;
  std::vector<std::string> writes;
  std::set<int> failingIds;
  // Libraries missing, or built for the other word size.
  std::set<std::string> misfits;
  std::string autorun = "(unset)";
  bool autorunWorks = true;
  std::string autorunBefore;
  StartResult startResult = StartResult::Running;
  bool complete = true;
  std::set<std::string> releaseCopies;
  std::string uninstaller = "(unset)";
  bool uninstallerWorks = true;
  UninstallEntry entry;
  bool entryWorks = true;
};

const Lines kIntact{"Starting.", "Performing internal integrity check.",
                    "Update files are intact."};

Lines After(const Lines& head, const Lines& tail) {
  Lines all = head;
  all.insert(all.end(), tail.begin(), tail.end());
  return all;
}

}  // namespace

TEST_CASE("an update replaces the program file found at the default path") {
  FakeHost host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  host.versions["C:\\quorvl\\quorveld.exe"] = {0x00010000, 0x00040001};
  RunUpdate(host);
  CHECK(host.lines ==
        After(kIntact, {"File to replace: C:\\quorvl\\quorveld.exe",
                        "Version of file to be replaced: 1.0.4.1", "Update successful.",
                        "Version of new file: 1.0.4.2", "Autorun registry key added."}));
  CHECK(host.writes == std::vector<std::string>{"C:\\quorvl\\quorveld.exe||130"});
  CHECK(host.autorun == "C:\\quorvl\\quorveld.exe");

  SUBCASE("a failed write ends the run without touching the registry") {
    FakeHost failing;
    failing.present = {"C:\\quorvl\\quorveld.exe"};
    failing.failingIds = {130};
    RunUpdate(failing);
    CHECK(failing.lines.back() == "Update failed.");
    CHECK(failing.autorun == "(unset)");
  }
  SUBCASE("a registry that refuses gives the last line") {
    FakeHost refused;
    refused.present = {"C:\\quorvl\\quorveld.exe"};
    refused.autorunWorks = false;
    RunUpdate(refused);
    CHECK(refused.lines.back() == "Failed to add autorun registry key.");
    CHECK(refused.uninstaller == "(unset)");
  }
}

TEST_CASE("an install or update leaves the uninstaller and the entry that names it") {
  FakeHost host;
  SUBCASE("a fresh installation") { host.installYes = true; }
  SUBCASE("an update") { host.present = {"C:\\quorvl\\quorveld.exe"}; }
  CHECK(RunUpdate(host) == RunOutcome::Done);
  CHECK(host.uninstaller == "C:\\quorvl\\quorvel-uninstall.exe");
  CHECK(host.entry.displayIcon == "C:\\quorvl\\quorveld.exe");
  CHECK(host.entry.displayVersion == "1.0.4.2");
  CHECK(host.lines.back() == "Autorun registry key added.");

  SUBCASE("an entry that cannot be written fails the run") {
    FakeHost refused;
    refused.present = {"C:\\quorvl\\quorveld.exe"};
    refused.entryWorks = false;
    CHECK(RunUpdate(refused) == RunOutcome::Failed);
    CHECK(refused.lines.back() == "Failed to add the uninstall entry.");
  }
  SUBCASE("an uninstaller that cannot be copied writes no entry") {
    FakeHost refused;
    refused.present = {"C:\\quorvl\\quorveld.exe"};
    refused.uninstallerWorks = false;
    CHECK(RunUpdate(refused) == RunOutcome::Failed);
    CHECK(refused.entry.displayIcon.empty());
  }
}

TEST_CASE("an update also writes the libraries its program cannot start with") {
  FakeHost host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  host.misfits = {"C:\\quorvl\\CDRVHF32.DLL", "C:\\quorvl\\CDRVDL32.DLL"};
  SUBCASE("both, after the program and with the lines of any update") {
    CHECK(RunUpdate(host) == RunOutcome::Done);
    CHECK(host.writes == std::vector<std::string>{"C:\\quorvl\\quorveld.exe||130",
                                                  "C:\\quorvl\\quorveld.exe|CDRVHF32.DLL|131",
                                                  "C:\\quorvl\\quorveld.exe|CDRVDL32.DLL|132"});
    CHECK(host.lines ==
          After(kIntact, {"File to replace: C:\\quorvl\\quorveld.exe", "Update successful.",
                          "Version of new file: 1.0.4.2", "Autorun registry key added."}));
  }
  SUBCASE("only the one that does not match") {
    host.misfits = {"C:\\quorvl\\CDRVDL32.DLL"};
    CHECK(RunUpdate(host) == RunOutcome::Done);
    CHECK(host.writes == std::vector<std::string>{"C:\\quorvl\\quorveld.exe||130",
                                                  "C:\\quorvl\\quorveld.exe|CDRVDL32.DLL|132"});
  }
  SUBCASE("a library that cannot be written fails the update") {
    host.failingIds = {131};
    CHECK(RunUpdate(host) == RunOutcome::Failed);
    CHECK(host.lines.back() == "Update failed.");
    CHECK(host.autorun == "(unset)");
  }
  SUBCASE("the program and its libraries are one set, written all or nothing") {
    host.failingIds = {130};
    CHECK(RunUpdate(host) == RunOutcome::Failed);
    CHECK(host.writes.size() == 3);
    CHECK(host.autorun == "(unset)");
  }
}

TEST_CASE("a running service is stopped first and names the file to replace") {
  FakeHost host;
  host.running = true;
  host.pathFromStop = "C:\\apps\\quorveld.exe";
  host.present = {"C:\\apps\\quorveld.exe"};
  RunUpdate(host);
  CHECK(host.lines ==
        After(kIntact, {"quorveld is running.", "(stop)", "File to replace: C:\\apps\\quorveld.exe",
                        "Update successful.", "Version of new file: 1.0.4.2",
                        "Autorun registry key added."}));
  SUBCASE("a stop that fails is reported and the run goes on") {
    FakeHost refusing;
    refusing.running = true;
    refusing.stopResult = false;
    refusing.pathFromStop = "C:\\quorvl\\quorveld.exe";
    refusing.present = {"C:\\quorvl\\quorveld.exe"};
    refusing.failingIds = {130};
    RunUpdate(refusing);
    CHECK(
        refusing.lines ==
        After(kIntact, {"quorveld is running.", "(stop)", "The program doesn't want to shut down.",
                        "Please close quorveld manually and re-run the updater.",
                        "File to replace: C:\\quorvl\\quorveld.exe", "Update failed."}));
  }
}

TEST_CASE("a corrupt payload stops the run before anything is touched") {
  FakeHost host;
  host.running = true;
  host.stored[131] = 0xdeadbeef;
  host.computed[132] = 0x0000abcd;
  RunUpdate(host);
  CHECK(host.lines == Lines{"Starting.", "Performing internal integrity check.",
                            "CDRVHF32.EXE CRC mismatch: 00000022:deadbeef",
                            "CDRVDL32.EXE CRC mismatch: 0000abcd:00000033",
                            "Updater is corrupt.  Terminating update process."});
  CHECK(host.writes.empty());
}

TEST_CASE("the search decides between update, chooser and installation") {
  FakeHost host;
  SUBCASE("one copy found is updated") {
    host.onDisk = {"D:\\old\\quorveld.exe"};
    RunUpdate(host);
    CHECK(host.lines[3] == "Searching for quorveld.exe...");
    CHECK(host.lines[5] == "File to replace: D:\\old\\quorveld.exe");
    CHECK(host.writes == std::vector<std::string>{"D:\\old\\quorveld.exe||130"});
    CHECK(host.found.size() == 1);
  }
  SUBCASE("several copies go to the chooser; its choice is updated") {
    host.onDisk = {"C:\\a\\quorveld.exe", "C:\\b\\quorveld.exe"};
    host.choice = "C:\\b\\quorveld.exe";
    RunUpdate(host);
    CHECK(host.lines[5] == "(chooser of 2)");
    CHECK(host.lines[6] == "File to replace: C:\\b\\quorveld.exe");
  }
  SUBCASE("a cancelled chooser, or OK without a choice, leads to the question") {
    host.onDisk = {"C:\\a\\quorveld.exe", "C:\\b\\quorveld.exe"};
    host.chooserOk = false;
    host.installYes = false;
    RunUpdate(host);
    CHECK(host.lines == After(kIntact, {"Searching for quorveld.exe...", "(search)",
                                        "(chooser of 2)", "(question)", "Aborting."}));
    FakeHost empty;
    empty.onDisk = host.onDisk;
    empty.installYes = false;
    RunUpdate(empty);
    CHECK(empty.lines.back() == "Aborting.");
    CHECK(empty.writes.empty());
    CHECK(empty.autorun == "(unset)");
  }
  SUBCASE("no copy and Yes installs all three files at the default path") {
    CHECK(RunUpdate(host) == RunOutcome::Done);
    CHECK(host.lines == After(kIntact, {"Searching for quorveld.exe...", "(search)", "(question)",
                                        "Update successful.", "Version of new file: 1.0.4.2",
                                        "Autorun registry key added."}));
    CHECK(host.writes == std::vector<std::string>{"C:\\quorvl\\quorveld.exe||130",
                                                  "C:\\quorvl\\quorveld.exe|CDRVHF32.DLL|131",
                                                  "C:\\quorvl\\quorveld.exe|CDRVDL32.DLL|132"});
    CHECK(host.autorun == "C:\\quorvl\\quorveld.exe");
  }
  SUBCASE("an installation after a stop that learnt no path goes where the question says") {
    host.running = true;
    host.pathFromStop = "";
    RunUpdate(host);
    CHECK(host.writes.front() == "C:\\quorvl\\quorveld.exe||130");
    CHECK(host.autorun == "C:\\quorvl\\quorveld.exe");
  }
}

TEST_CASE("an installation succeeds only with the program written and both libraries in place") {
  FakeHost host;
  SUBCASE("any of the three that cannot be written fails it") {
    for (int id : {130, 132}) {
      FakeHost failing;
      failing.failingIds = {id};
      CHECK(RunUpdate(failing) == RunOutcome::Failed);
      CHECK(failing.lines.back() == "Update failed.");
      CHECK(failing.writes.size() == 3);
      CHECK(failing.autorun == "(unset)");
    }
  }
  SUBCASE("written, yet not the program carried with both libraries of its word size") {
    host.present = {"C:\\quorvl\\quorveld.exe"};
    host.complete = false;
    CHECK(RunUpdate(host) == RunOutcome::Failed);
    CHECK(host.lines.back() == "Update failed.");
    CHECK(host.autorun == "(unset)");
  }
}

TEST_CASE("each way a run ends has its own outcome") {
  FakeHost host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  SUBCASE("done") {
    CHECK(RunUpdate(host) == RunOutcome::Done);
  }
  SUBCASE("a corrupt payload") {
    host.stored[130] = 0;
    CHECK(RunUpdate(host) == RunOutcome::Corrupt);
  }
  SUBCASE("a failed write") {
    host.failingIds = {130};
    CHECK(RunUpdate(host) == RunOutcome::Failed);
  }
  SUBCASE("an autorun value that cannot be set") {
    host.autorunWorks = false;
    CHECK(RunUpdate(host) == RunOutcome::Failed);
  }
  SUBCASE("the installation declined") {
    host.present.clear();
    host.installYes = false;
    CHECK(RunUpdate(host) == RunOutcome::NothingDone);
  }
}

TEST_CASE("an unattended run decides where the window would ask") {
  FakeHost host;
  RunOptions unattended;
  unattended.unattended = true;
  SUBCASE("no copy installs at the default path without a question") {
    CHECK(RunUpdate(host, unattended) == RunOutcome::Done);
    CHECK(host.lines ==
          After(kIntact, {"Searching for quorveld.exe...", "(search)", "Update successful.",
                          "Version of new file: 1.0.4.2", "Autorun registry key added."}));
    CHECK(host.writes.size() == 3);
  }
  SUBCASE("several copies: the one the autorun value names, in any letter case or quoted") {
    for (const char* named :
         {"C:\\b\\quorveld.exe", "c:\\B\\QUORVELD.EXE", "\"C:\\b\\quorveld.exe\""}) {
      FakeHost several;
      several.onDisk = {"C:\\a\\quorveld.exe", "C:\\b\\quorveld.exe"};
      several.autorunBefore = named;
      CHECK(RunUpdate(several, unattended) == RunOutcome::Done);
      CHECK(several.lines[5] == "File to replace: C:\\b\\quorveld.exe");
      CHECK(several.writes == std::vector<std::string>{"C:\\b\\quorveld.exe||130"});
      CHECK(several.autorun == "C:\\b\\quorveld.exe");
    }
  }
  SUBCASE("several copies and the autorun value names none: stop and list them") {
    host.onDisk = {"C:\\a\\quorveld.exe", "C:\\b\\quorveld.exe"};
    host.autorunBefore = "C:\\c\\quorveld.exe";
    CHECK(RunUpdate(host, unattended) == RunOutcome::NothingDone);
    CHECK(host.lines ==
          After(kIntact, {"Searching for quorveld.exe...", "(search)",
                          "Several copies found, and the autorun value names none of them:",
                          "  C:\\a\\quorveld.exe", "  C:\\b\\quorveld.exe", "Aborting."}));
    CHECK(host.writes.empty());
    CHECK(host.autorun == "(unset)");
  }
}

TEST_CASE("a given target is used instead of the search") {
  FakeHost host;
  RunOptions options;
  options.target = "D:\\site\\quorveld.exe";
  SUBCASE("an existing file is updated, even when the running service came from elsewhere") {
    host.running = true;
    host.pathFromStop = "C:\\quorvl\\quorveld.exe";
    host.present = {"D:\\site\\quorveld.exe", "C:\\quorvl\\quorveld.exe"};
    CHECK(RunUpdate(host, options) == RunOutcome::Done);
    CHECK(host.lines[5] == "File to replace: D:\\site\\quorveld.exe");
    CHECK(host.writes == std::vector<std::string>{"D:\\site\\quorveld.exe||130"});
    CHECK(host.autorun == "D:\\site\\quorveld.exe");
  }
  SUBCASE("a missing file is installed there without search or question") {
    CHECK(RunUpdate(host, options) == RunOutcome::Done);
    CHECK(host.lines == After(kIntact, {"Update successful.", "Version of new file: 1.0.4.2",
                                        "Autorun registry key added."}));
    CHECK(host.writes.front() == "D:\\site\\quorveld.exe||130");
    CHECK(host.writes.size() == 3);
  }
}

TEST_CASE("asked to, a successful run starts the service from the target") {
  FakeHost host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  RunOptions options;
  options.startService = true;
  SUBCASE("after the autorun value") {
    CHECK(RunUpdate(host, options) == RunOutcome::Done);
    CHECK(host.lines ==
          After(kIntact, {"File to replace: C:\\quorvl\\quorveld.exe", "Update successful.",
                          "Version of new file: 1.0.4.2", "Autorun registry key added.",
                          "(start C:\\quorvl\\quorveld.exe)", "quorveld started."}));
  }
  SUBCASE("a start that fails is a failed run") {
    host.startResult = StartResult::Failed;
    CHECK(RunUpdate(host, options) == RunOutcome::Failed);
    CHECK(host.lines.back() == "Failed to start quorveld.");
  }
  SUBCASE("a failed update starts nothing") {
    host.failingIds = {130};
    RunUpdate(host, options);
    CHECK(host.lines.back() == "Update failed.");
  }
}

namespace {

// A disk that is full whatever is written to it, or whose folder refuses new rights.
class FullDisk : public PayloadDisk {
 public:
  bool HasPayload(int) override { return true; }
  DirectoryResult MakeDirectory(const std::string&) override {
    return DirectoryResult::AlreadyExists;
  }
  bool SecureFolder(const std::string&) override { return !rightsRefused; }
  bool SecureProgramFile(const std::string&) override { return !rightsRefused; }
  bool WritePayload(const std::string& path, int) override {
    files[path] = full ? "new" : "new program";  // cut short when full
    return !full;
  }
  bool CopyCommitted(const std::string& source, const std::string& target) override {
    files[target] = files[source];
    return true;
  }
  bool Replace(const std::string& source, const std::string& target) override {
    files[target] = files[source];
    files.erase(source);
    return true;
  }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  bool OnlyAdministrationMayChange(const std::string&) override { return true; }
  void Remove(const std::string& path) override { files.erase(path); }
  void ClearReadOnly(const std::string&) override {}
  void Pause(unsigned) override {}
  std::string ReadFileBytes(const std::string&, std::uint32_t, std::size_t) override { return {}; }
  std::string ReadPayloadBytes(int, std::uint32_t, std::size_t) override { return {}; }
  std::map<std::string, std::string> files;
  bool full = true;
  bool rightsRefused = false;
};

class HostOnDisk : public FakeHost {
 public:
  bool WritePayloadSet(const std::string& target, const std::vector<PayloadFile>& files) override {
    return quorvel::updater::WritePayloadSet(disk, target, files);
  }
  FullDisk disk;
};

}  // namespace

TEST_CASE("an update on a full disk fails with the usual lines and keeps the old program") {
  HostOnDisk host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  host.disk.files["C:\\quorvl\\quorveld.exe"] = "old program";
  CHECK(RunUpdate(host) == RunOutcome::Failed);
  CHECK(host.lines ==
        After(kIntact, {"File to replace: C:\\quorvl\\quorveld.exe", "Update failed."}));
  CHECK(host.disk.files ==
        std::map<std::string, std::string>{{"C:\\quorvl\\quorveld.exe", "old program"}});
  CHECK(host.autorun == "(unset)");
}

TEST_CASE("an update whose folder refuses its rights fails like a failed write") {
  HostOnDisk host;
  host.disk.full = false;
  host.disk.rightsRefused = true;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  const std::map<std::string, std::string> old{{"C:\\quorvl\\quorveld.exe", "old program"},
                                               {"C:\\quorvl\\CDRVHF32.DLL", "old high"},
                                               {"C:\\quorvl\\CDRVDL32.DLL", "old low"}};
  host.disk.files = old;
  CHECK(RunUpdate(host) == RunOutcome::Failed);
  CHECK(host.lines ==
        After(kIntact, {"File to replace: C:\\quorvl\\quorveld.exe", "Update failed."}));
  CHECK(host.disk.files == old);
  CHECK(host.autorun == "(unset)");
}

namespace {

class FakeService : public ServiceProcess {
 public:
  bool OpenServiceMutex() override { return calls.push_back("open mutex"), mutexExists; }
  bool FindServiceProcess() override { return calls.push_back("find process"), processFound; }
  bool FindServiceWindow() override { return calls.push_back("find window"), windowExists; }
  bool OpenProcess() override { return calls.push_back("open process"), processOpens; }
  std::string ModulePath() override { return modulePath; }
  long long AskToClose() override { return calls.push_back("ask"), reply; }
  bool WaitForServiceToEnd(unsigned ms) override {
    calls.push_back("wait " + std::to_string(ms));
    return endsInTime;
  }
  void Terminate(unsigned code, unsigned ms) override {
    calls.push_back("terminate " + std::to_string(code) + " wait " + std::to_string(ms));
    ended = terminates;
  }
  bool HasEnded() override { return ended; }
  void CloseProcess() override { calls.push_back("close process"); }

  bool mutexExists = true, processFound = true, windowExists = true, processOpens = true;
  bool endsInTime = true;
  bool terminates = true, ended = true;
  long long reply = 1;
  std::string modulePath = "C:\\apps\\quorveld.exe";
  std::vector<std::string> calls;
};

class Recorder : public StatusLines {
 public:
  void AddStatusLine(const std::string& line) override { lines.push_back(line); }
  Lines lines;
};

}  // namespace

TEST_CASE("stopping the service") {
  FakeService service;
  Recorder status;
  std::string target = "C:\\quorvl\\quorveld.exe";
  SUBCASE("it agrees and ends in time") {
    CHECK(StopService(service, status, target));
    CHECK(status.lines == Lines{"Shutting it down.", "Shutdown complete."});
    CHECK(target == "C:\\apps\\quorveld.exe");
    CHECK(service.calls == std::vector<std::string>{"open mutex", "find process", "find window",
                                                    "open process", "ask", "wait 2000",
                                                    "close process"});
  }
  SUBCASE("it refuses and is terminated with 666") {
    service.reply = 0;
    service.ended = false;
    CHECK(StopService(service, status, target));
    CHECK(status.lines == Lines{"Shutting it down.", "Terminating process."});
    CHECK(service.calls[5] == "terminate 666 wait 1000");
  }
  SUBCASE("it agrees but does not end within two seconds") {
    service.endsInTime = false;
    service.terminates = false;
    service.ended = false;
    CHECK_FALSE(StopService(service, status, target));
    CHECK(status.lines.back() == "Terminating process.");
  }
  SUBCASE("a process that cannot be opened cannot be terminated") {
    service.processOpens = false;
    service.reply = 0;
    CHECK_FALSE(StopService(service, status, target));
    CHECK(service.calls.back() == "ask");
  }
  SUBCASE("one that closed by itself counts even without a process handle") {
    service.processOpens = false;
    CHECK(StopService(service, status, target));
    CHECK(status.lines.back() == "Shutdown complete.");
  }
  SUBCASE("already gone between the two tests of the mutex") {
    service.mutexExists = false;
    service.processFound = false;
    CHECK(StopService(service, status, target));
    CHECK(status.lines == Lines{"quorveld is not running."});
    CHECK(target == "C:\\quorvl\\quorveld.exe");
  }
  SUBCASE("a mutex without a window or a process of the program is left alone") {
    service.windowExists = false;
    service.processFound = false;
    CHECK_FALSE(StopService(service, status, target));
    CHECK(status.lines == Lines{"Unable to find program window."});
    CHECK(target == "C:\\quorvl\\quorveld.exe");
  }
  SUBCASE("a module walk that finds nothing empties the target") {
    service.modulePath = "";
    StopService(service, status, target);
    CHECK(target.empty());
  }
}

TEST_CASE("a run that stopped the service and changed nothing starts the old program again") {
  FakeHost host;
  host.running = true;
  host.pathFromStop = "C:\\quorvl\\quorveld.exe";
  host.present = {"C:\\quorvl\\quorveld.exe"};
  const Lines restart{"Starting the stopped program again: C:\\quorvl\\quorveld.exe",
                      "(start C:\\quorvl\\quorveld.exe)", "quorveld started."};
  SUBCASE("a failed update, with or without /start") {
    for (bool start : {false, true}) {
      FakeHost failing = host;
      failing.failingIds = {130};
      RunOptions options;
      options.startService = start;
      CHECK(RunUpdate(failing, options) == RunOutcome::Failed);
      CHECK(Lines(failing.lines.end() - 4, failing.lines.end()) ==
            After({"Update failed."}, restart));
    }
  }
  SUBCASE("an aborted run keeps its outcome once the program runs again") {
    host.present.clear();
    host.installYes = false;
    CHECK(RunUpdate(host) == RunOutcome::NothingDone);
    CHECK(Lines(host.lines.end() - 4, host.lines.end()) == After({"Aborting."}, restart));
  }
  SUBCASE("an autorun value that cannot be set: the updated program is started") {
    host.autorunWorks = false;
    CHECK(RunUpdate(host) == RunOutcome::Failed);
    CHECK(Lines(host.lines.end() - 4, host.lines.end()) ==
          After({"Failed to add autorun registry key."}, restart));
  }
  SUBCASE("a program not seen running fails the run") {
    host.present.clear();
    host.installYes = false;
    host.startResult = StartResult::Failed;
    CHECK(RunUpdate(host) == RunOutcome::Failed);
    CHECK(host.lines.back() == "Failed to start quorveld.");
  }
  SUBCASE("a stop that failed leaves the program running: nothing to start") {
    host.stopResult = false;
    host.failingIds = {130};
    RunUpdate(host);
    CHECK(host.lines.back() == "Update failed.");
  }
  SUBCASE("after a success only /start starts the new program") {
    CHECK(RunUpdate(host) == RunOutcome::Done);
    CHECK(host.lines.back() == "Autorun registry key added.");
  }
}

TEST_CASE("the release's own copies are never taken for an installation") {
  FakeHost host;
  RunOptions unattended;
  unattended.unattended = true;
  const std::string unpacked = "C:\\users\\Public\\Downloads\\quorvel-1.0.4.1\\quorveld.exe";
  host.releaseCopies = {unpacked};
  SUBCASE("nothing else installed: a fresh installation at the default path") {
    host.onDisk = {unpacked};
    CHECK(RunUpdate(host, unattended) == RunOutcome::Done);
    CHECK(host.lines[5] == "Not an installation (the release's own copy): " + unpacked);
    CHECK(host.writes.front() == "C:\\quorvl\\quorveld.exe||130");
    CHECK(host.autorun == "C:\\quorvl\\quorveld.exe");
  }
  SUBCASE("beside an installation elsewhere: that one is updated") {
    host.onDisk = {unpacked, "D:\\shop\\quorveld.exe"};
    CHECK(RunUpdate(host, unattended) == RunOutcome::Done);
    CHECK(host.autorun == "D:\\shop\\quorveld.exe");
  }
  SUBCASE("an updater copied into an installation's folder updates it") {
    host.releaseCopies.clear();
    host.onDisk = {"D:\\shop\\quorveld.exe"};
    CHECK(RunUpdate(host, unattended) == RunOutcome::Done);
    CHECK(host.autorun == "D:\\shop\\quorveld.exe");
  }
}

TEST_CASE("the autorun value is quoted only when the path holds a blank") {
  CHECK(AutorunData("C:\\quorvl\\quorveld.exe") == "C:\\quorvl\\quorveld.exe");
  CHECK(AutorunData("C:\\qo space\\site\\quorveld.exe") == "\"C:\\qo space\\site\\quorveld.exe\"");
  FakeHost host;
  RunOptions options;
  options.target = "C:\\qo space\\site\\quorveld.exe";
  CHECK(RunUpdate(host, options) == RunOutcome::Done);
  CHECK(host.autorun == "\"C:\\qo space\\site\\quorveld.exe\"");
}

TEST_CASE("where a started program runs") {
  CHECK(ChooseStartSession({1, true}) == StartWhere::OwnSession);
  CHECK(ChooseStartSession({2, false}) == StartWhere::OwnSession);
  CHECK(ChooseStartSession({kServicesSession, true}) == StartWhere::UserSession);
  CHECK(ChooseStartSession({kServicesSession, false}) == StartWhere::AtNextLogOn);
  FakeHost host;
  host.present = {"C:\\quorvl\\quorveld.exe"};
  host.startResult = StartResult::LeftToAutorun;
  RunOptions options;
  options.startService = true;
  CHECK(RunUpdate(host, options) == RunOutcome::Done);
  CHECK(host.lines.back() == "Nobody is logged on: quorveld starts at the next log-on.");
}

TEST_CASE("a service out of sight of its window is ended by its process") {
  FakeService service;
  Recorder status;
  std::string target = "C:\\quorvl\\quorveld.exe";
  service.mutexExists = false;
  service.windowExists = false;
  service.modulePath = "C:\\shop\\quorveld.exe";
  CHECK(StopService(service, status, target));
  CHECK(status.lines == Lines{"Shutting it down.", "Terminating process."});
  CHECK(target == "C:\\shop\\quorveld.exe");
  CHECK(std::find(service.calls.begin(), service.calls.end(), "ask") == service.calls.end());
  CHECK(std::find(service.calls.begin(), service.calls.end(), "terminate 666 wait 1000") !=
        service.calls.end());
}
