// The uninstall entry and the removal of an installation: their decisions, their status lines,
// and a power cut at every step that changes the registry or the disk.
#include <doctest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "updater/paths.h"
#include "updater/uninstall.h"

using namespace quorvel::updater;

namespace {

using Lines = std::vector<std::string>;
struct PowerCut {};

const std::string kProgram = "C:\\quorvl\\quorveld.exe";
const std::string kHigh = "C:\\quorvl\\CDRVHF32.DLL";
const std::string kLow = "C:\\quorvl\\CDRVDL32.DLL";
const std::string kUninstaller = "C:\\quorvl\\quorvel-uninstall.exe";
const std::string kCache = "C:\\quorvl\\quorveld.dat";
const std::string kLog = "C:\\quorvl\\quorveld.log";

// A PC in memory: the autorun value, the uninstall entry and the files. Every step that changes
// them is counted, and the power can be cut before any of them.
class FakeUninstallHost : public UninstallHost {
 public:
  void AddStatusLine(const std::string& line) override { lines.push_back(line); }
  std::uint32_t ComputePayloadCrc(int) override { return 0; }
  std::uint32_t ReadStoredCrc(int) override { return 0; }
  bool IsServiceRunning() override { return running; }
  bool StopService(std::string&) override {
    Step();
    lines.push_back("(stop)");
    if (stopWorks) running = false;
    return stopWorks;
  }
  bool FileIsPresent(const std::string& path) override { return files.count(path) != 0; }
  void SearchForServiceProgram() override { lines.push_back("(search)"); }
  std::deque<std::string>& FoundList() override { return found; }
  bool SelectFile() override { return false; }
  bool AskToInstall() override { return false; }
  bool GetProductVersion(const std::string& path, std::uint32_t& ms, std::uint32_t& ls) override {
    if (!files.count(path)) return false;
    ms = 0x00010000;
    ls = 0x00040001;
    return true;
  }
  bool WritePayloadSet(const std::string&, const std::vector<PayloadFile>&) override {
    return false;
  }
  bool InstallationIsComplete(const std::string&) override { return false; }
  bool IsReleaseCopy(const std::string&) override { return false; }
  bool LibraryMatchesPayload(const std::string&, const char*, int) override { return false; }
  bool SetAutorun(const std::string& path) override {
    Step();
    autorun = path;
    return true;
  }
  std::string ReadAutorun() override { return autorun; }
  StartResult StartProgramAt(const std::string& path) override {
    lines.push_back("(start " + path + ")");
    return StartResult::Running;
  }
  bool InstallUninstaller(const std::string&) override { return false; }
  bool WriteUninstallEntry(const UninstallEntry&) override { return false; }
  std::uint64_t FileSize(const std::string& path) override {
    auto it = sizes.find(path);
    return it == sizes.end() ? 0 : it->second;
  }
  std::string GetCompanyName(const std::string&) override { return company; }
  std::string ReadUninstallEntryProgram() override { return entryProgram; }
  bool RemoveAutorun() override {
    Step();
    autorun.clear();
    return true;
  }
  bool RemoveUninstallEntry() override {
    Step();
    entryProgram.clear();
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    if (!files.count(path)) return true;
    Step();
    if (held.count(path)) return false;
    files.erase(path);
    return true;
  }
  std::string OwnImagePath() override { return ownImage; }
  SelfRemoval RemoveOwnImage(const std::string& path) override {
    Step();
    lines.push_back("(remove own image)");
    if (selfRemoval == SelfRemoval::Gone) files.erase(path);
    return selfRemoval;
  }
  std::vector<std::string> FolderContents(const std::string& folder) override {
    std::vector<std::string> names;
    for (const std::string& path : files) {
      if (DirectoryOf(path) == folder) names.push_back(path.substr(folder.size()));
    }
    return names;
  }
  std::string ReadDataFolder() override { return dataFolder; }
  bool RemoveFolder(const std::string& folder) override {
    Step();
    if (!FolderContents(folder).empty()) return false;
    folders.erase(folder);
    return true;
  }

  void Step() {
    if (steps++ == cutAt) throw PowerCut{};
  }
  // What a complete installation with data waiting leaves.
  void Install() {
    files = {kProgram, kHigh, kLow, kUninstaller, kCache, kLog};
    folders = {"C:\\quorvl\\"};
    autorun = kProgram;
    entryProgram = kProgram;
  }

  Lines lines;
  std::deque<std::string> found;
  bool running = false;
  bool stopWorks = true;
  std::string autorun;
  std::string entryProgram;
  std::string company;  // the program's version information names none
  std::set<std::string> files;
  std::set<std::string> folders;
  std::set<std::string> held;
  std::map<std::string, std::uint64_t> sizes;
  std::string ownImage = "C:\\tools\\updater.exe";
  SelfRemoval selfRemoval = SelfRemoval::Gone;
  std::string dataFolder;
  int steps = 0;
  int cutAt = -1;
};

const std::set<std::string> kDataOnly{kCache, kLog};

bool NothingOfTheProgramLeft(const FakeUninstallHost& host) {
  return host.autorun.empty() && host.entryProgram.empty() && host.files == kDataOnly;
}

}  // namespace

TEST_CASE("an uninstall removes the program, its libraries and registration, never the data") {
  FakeUninstallHost host;
  host.Install();
  host.files.insert(kProgram + ".old");  // left by an update cut short
  host.files.insert("C:\\quorvl\\quorvel-status.exe");  // placed there from the release
  CHECK(RunUninstall(host) == RunOutcome::Done);
  CHECK(host.lines == Lines{"Starting uninstall.", "Installation: C:\\quorvl\\quorveld.exe",
                            "Autorun registry key removed.", "Program and libraries removed.",
                            "Kept: C:\\quorvl\\quorveld.dat", "Kept: C:\\quorvl\\quorveld.log",
                            "Uninstall entry removed.", "Uninstall successful."});
  CHECK(NothingOfTheProgramLeft(host));
  CHECK(host.folders.count("C:\\quorvl\\") == 1);

  SUBCASE("a running service is stopped first and not started again") {
    FakeUninstallHost running;
    running.Install();
    running.running = true;
    CHECK(RunUninstall(running) == RunOutcome::Done);
    CHECK(running.lines[2] == "quorveld is running.");
    CHECK(running.lines[3] == "(stop)");
    CHECK(NothingOfTheProgramLeft(running));
  }
  SUBCASE("the log and cache kept in another folder are named too") {
    FakeUninstallHost elsewhere;
    elsewhere.Install();
    elsewhere.dataFolder = "D:\\counts";
    CHECK(RunUninstall(elsewhere) == RunOutcome::Done);
    CHECK(elsewhere.lines[6] == "Kept: the log and counts cache in D:\\counts");
    FakeUninstallHost same;
    same.Install();
    same.dataFolder = "c:\\quorvl";
    RunUninstall(same);
    CHECK(same.lines == host.lines);
  }
  SUBCASE("a folder with nothing else in it goes") {
    FakeUninstallHost bare;
    bare.Install();
    bare.files = {kProgram, kHigh, kLow, kUninstaller};
    CHECK(RunUninstall(bare) == RunOutcome::Done);
    CHECK(bare.files.empty());
    CHECK(bare.folders.empty());
    CHECK(bare.lines[4] == "Folder removed: C:\\quorvl");
  }
}

TEST_CASE("the uninstaller in the folder removes its own file") {
  FakeUninstallHost host;
  host.Install();
  host.files = {kProgram, kHigh, kLow, kUninstaller};
  host.ownImage = "c:\\QUORVL\\quorvel-uninstall.exe";
  SUBCASE("moved away at once, the folder goes too") {
    CHECK(RunUninstall(host) == RunOutcome::Done);
    CHECK(host.files.empty());
    CHECK(host.folders.empty());
  }
  SUBCASE("left to the next restart, the folder stays and the log says so") {
    host.selfRemoval = SelfRemoval::AtRestart;
    CHECK(RunUninstall(host) == RunOutcome::Done);
    CHECK(host.folders.size() == 1);
    CHECK(std::count(host.lines.begin(), host.lines.end(),
                     "Removed at the next restart: " + kUninstaller) == 1);
    CHECK(host.lines.back() == "Uninstall successful.");
  }
  SUBCASE("one that cannot go fails the run and keeps the entry for the next") {
    host.selfRemoval = SelfRemoval::Failed;
    CHECK(RunUninstall(host) == RunOutcome::Failed);
    CHECK(host.entryProgram == kProgram);
    CHECK(host.lines.back() == "Uninstall failed.");
  }
}

TEST_CASE("where the installation to remove is found") {
  FakeUninstallHost host;
  host.Install();
  SUBCASE("the autorun value, quoted") {
    host.files = {"C:\\Program Files\\Q\\quorveld.exe", "C:\\Program Files\\Q\\CDRVHF32.DLL"};
    host.autorun = "\"C:\\Program Files\\Q\\quorveld.exe\"";
    host.entryProgram.clear();
    CHECK(RunUninstall(host) == RunOutcome::Done);
    CHECK(host.files.empty());
  }
  SUBCASE("the entry alone, after a run cut short took the autorun value") {
    host.autorun.clear();
    CHECK(RunUninstall(host) == RunOutcome::Done);
    CHECK(NothingOfTheProgramLeft(host));
  }
  SUBCASE("/target, without any registration") {
    host.autorun.clear();
    host.entryProgram.clear();
    RunOptions options;
    options.target = kProgram;
    CHECK(RunUninstall(host, options) == RunOutcome::Done);
    CHECK(host.files == kDataOnly);
  }
}

TEST_CASE("with nothing installed an uninstall changes nothing and ends with 3") {
  FakeUninstallHost host;
  host.files = {kCache};
  host.running = true;  // a copy started by hand, which is not an installation
  RunOptions options;
  SUBCASE("no registration") {}
  SUBCASE("a /target with none of the installation's files") {
    options.target = kProgram;
  }
  CHECK(RunUninstall(host, options) == RunOutcome::NothingDone);
  CHECK(host.lines == Lines{"Starting uninstall.", "Nothing installed."});
  CHECK(host.steps == 0);
  CHECK(host.running);
}

TEST_CASE("an uninstall that cannot finish says what is left") {
  FakeUninstallHost host;
  host.Install();
  SUBCASE("a service that will not stop: nothing is touched") {
    host.running = true;
    host.stopWorks = false;
    CHECK(RunUninstall(host) == RunOutcome::Failed);
    CHECK(host.autorun == kProgram);
    CHECK(host.files.count(kProgram) == 1);
    CHECK(host.lines.back() == "Uninstall failed.");
  }
  SUBCASE("a program held by another: it starts at log-on again as before") {
    host.autorun = "\"C:\\quorvl\\quorveld.exe\"";
    host.held = {kProgram};
    CHECK(RunUninstall(host) == RunOutcome::Failed);
    CHECK(host.autorun == "\"C:\\quorvl\\quorveld.exe\"");
    CHECK(host.files.count(kHigh) == 1);
    CHECK(host.lines[host.lines.size() - 2] == "Could not remove: " + kProgram);
  }
  SUBCASE("a library held by another: the entry stays and the next run finishes") {
    host.held = {kLow};
    CHECK(RunUninstall(host) == RunOutcome::Failed);
    CHECK(host.autorun.empty());
    CHECK(host.entryProgram == kProgram);
    CHECK(host.lines[host.lines.size() - 2] == "Could not remove: " + kLow);
    host.held.clear();
    CHECK(RunUninstall(host) == RunOutcome::Done);
    CHECK(NothingOfTheProgramLeft(host));
  }
}

TEST_CASE(
    "a power cut at any step of an uninstall leaves an installation or lets the next run "
    "finish") {
  for (const bool fromTheFolder : {false, true}) {
    int cutPoints = 0;
    for (int cut = 0;; ++cut) {
      FakeUninstallHost host;
      host.Install();
      host.running = true;
      host.files.insert(kLow + ".new");
      if (fromTheFolder) host.ownImage = kUninstaller;
      host.cutAt = cut;
      try {
        const RunOutcome outcome = RunUninstall(host);
        CHECK(outcome == RunOutcome::Done);
        break;
      } catch (const PowerCut&) {
        ++cutPoints;
      }
      INFO("cut at step " << cut << (fromTheFolder ? ", run from the folder" : ""));
      // Never a value that starts a missing program; data is never touched.
      if (!host.autorun.empty()) CHECK(host.files.count(kProgram) == 1);
      CHECK(host.files.count(kCache) == 1);
      CHECK(host.files.count(kLog) == 1);
      // Found again by what is left; the entry's command line needs the uninstaller.
      const bool anythingLeft = host.files != kDataOnly || !host.autorun.empty();
      if (anythingLeft) CHECK_FALSE(host.entryProgram.empty());
      host.cutAt = -1;
      host.running = false;
      host.lines.clear();
      host.ownImage = "C:\\tools\\updater.exe";
      const RunOutcome next = RunUninstall(host);
      CHECK(next == (host.lines.back() == "Nothing installed." ? RunOutcome::NothingDone
                                                               : RunOutcome::Done));
      CHECK(NothingOfTheProgramLeft(host));
    }
    MESSAGE("power cut tried at " << cutPoints << " steps");
    // The stop, the autorun value, five files, the entry.
    CHECK(cutPoints == 8);
  }
}

TEST_CASE("the entry names the installation, its version and commands that run as written") {
  FakeUninstallHost host;
  const std::string target = "C:\\Program Files\\Quorvel\\quorveld.exe";
  host.files = {target};
  host.sizes = {{target, 300000},
                {"C:\\Program Files\\Quorvel\\CDRVHF32.DLL", 100000},
                {"C:\\Program Files\\Quorvel\\CDRVDL32.DLL", 50000},
                {"C:\\Program Files\\Quorvel\\quorvel-uninstall.exe", 500001}};
  const UninstallEntry entry = EntryFor(host, target);
  CHECK(entry.displayName == "Quorvel client");
  CHECK(entry.displayVersion == "1.0.4.1");
  CHECK(entry.publisher == "Quorvel");  // the version information names no company
  host.company = "Example Counting Ltd";
  CHECK(EntryFor(host, target).publisher == "Example Counting Ltd");
  CHECK(entry.installLocation == "C:\\Program Files\\Quorvel");
  CHECK(entry.displayIcon == target);
  CHECK(entry.estimatedSizeKb == 928);  // 950,001 bytes, rounded up
  CHECK(entry.uninstallString ==
        "\"C:\\Program Files\\Quorvel\\quorvel-uninstall.exe\" /uninstall "
        "\"/target=C:\\Program Files\\Quorvel\\quorveld.exe\"");
  CHECK(entry.quietUninstallString == entry.uninstallString + " /quiet");
}
