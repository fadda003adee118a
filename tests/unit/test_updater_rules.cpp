// CRC-32 and check lines, path rules, payload writing and the search of the fixed drives.
#include <doctest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/field_values.h"
#include "updater/crc32.h"
#include "updater/paths.h"
#include "updater/payload.h"
#include "updater/search.h"
#include "updater/uninstall.h"

using namespace quorvel::updater;

TEST_CASE("CRC-32 matches the standard check values") {
  CHECK(Crc32("", 0) == 0u);
  CHECK(Crc32("123456789", 9) == 0xcbf43926u);
  CHECK(Crc32("The quick brown fox jumps over the lazy dog", 43) == 0x414fa339u);
  SUBCASE("byte by byte from 0 gives the same value") {
    std::uint32_t value = 0;
    for (char c : std::string("123456789"))
      value = Crc32Update(value, static_cast<std::uint8_t>(c));
    CHECK(value == 0xcbf43926u);
  }
}

TEST_CASE("check lines give the number at their start") {
  auto parse = [](const std::string& line) { return ParseCheckLine(line.data(), line.size()); };
  CHECK(parse("0badf00d ?CRC32*quorveld.exe\r\n") == 0x0badf00du);
  SUBCASE("upper case digits and a 0x prefix read the same") {
    CHECK(parse("0BADF00D ?CRC32*quorveld.exe\r\n") == 0x0badf00du);
    CHECK(parse("0x0badf00d ?CRC32*quorveld.exe\r\n") == 0x0badf00du);
    CHECK(parse("  cbf43926\r\n") == 0xcbf43926u);
  }
  SUBCASE("the last byte is never read") {
    CHECK(parse("12345678") == 0x1234567u);
  }
  SUBCASE("no number reads as 0") {
    CHECK(parse("?CRC32*quorveld.exe\r\n") == 0u);
    CHECK(parse("") == 0u);
    CHECK(parse("0x\r\n") == 0u);
  }
}

TEST_CASE("paths split by the runtime's rule") {
  const PathParts parts = SplitPath("C:\\quorvl\\quorveld.exe");
  CHECK(parts.drive == "C:");
  CHECK(parts.directory == "\\quorvl\\");
  CHECK(parts.name == "quorveld");
  CHECK(parts.extension == ".exe");
  CHECK(DirectoryOf("D:\\x/y\\quorveld.exe") == "D:\\x/y\\");
  CHECK(DirectoryOf("C:\\quorveld.exe") == "C:\\");
  CHECK(DirectoryOf("quorveld.exe") == "");
  CHECK(JoinPath("C:\\a", "b") == "C:\\a\\b");
  CHECK(JoinPath("C:\\a\\", "b") == "C:\\a\\b");
}

namespace {

// A folder in memory: a full disk cuts a write short, a held-open or read-only target refuses
// to be replaced. Every step that changes the disk is counted, and the power can be cut at any
// of them: steps that returned are on the disk, the cut one is not (a write or copy it cut
// leaves a file cut short).
struct PowerCut {};

class FakePayloadDisk : public PayloadDisk {
 public:
  bool HasPayload(int id) override { return id != missingId; }
  DirectoryResult MakeDirectory(const std::string& path) override {
    Step("mkdir " + path);
    return directoryResult;
  }
  bool SecureFolder(const std::string& directory) override {
    Step("secure folder " + directory);
    return !refusesRights.count(directory);
  }
  bool SecureProgramFile(const std::string& path) override {
    Step("secure " + path);
    return !refusesRights.count(path);
  }
  bool WritePayload(const std::string& path, int id) override {
    madeByUser.erase(path);
    const std::string payload = PayloadOf(id);
    files[path] = payload.substr(0, 5);
    Step("write " + path + " " + std::to_string(id));
    const bool fits = attempt++ != fullOnAttempt && !diskFull;
    if (fits) files[path] = payload;
    return fits;
  }
  bool CopyCommitted(const std::string& source, const std::string& target) override {
    madeByUser.erase(target);
    files[target] = files[source].substr(0, 3);
    Step("copy " + source + " to " + target);
    files[target] = files[source];
    return true;
  }
  bool Replace(const std::string& source, const std::string& target) override {
    Step("replace " + target);
    if (heldOpen || readOnly.count(target) || !files.count(source)) return false;
    files[target] = files[source];
    files.erase(source);
    return true;
  }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  bool OnlyAdministrationMayChange(const std::string& path) override {
    return !vouchesForNone && !madeByUser.count(path);
  }
  void Remove(const std::string& path) override {
    Step("remove " + path);
    files.erase(path);
  }
  void ClearReadOnly(const std::string& path) override {
    Step("clear " + path);
    readOnly.erase(path);
  }
  void Pause(unsigned milliseconds) override {
    calls.push_back("pause " + std::to_string(milliseconds));
  }
  std::string ReadFileBytes(const std::string& path, std::uint32_t offset,
                            std::size_t count) override {
    calls.push_back("read " + path);
    auto it = files.find(path);
    return it == files.end() ? "" : Slice(it->second, offset, count);
  }
  std::string ReadPayloadBytes(int id, std::uint32_t offset, std::size_t count) override {
    return id == missingId ? "" : Slice(PayloadOf(id), offset, count);
  }
  static std::string Slice(const std::string& bytes, std::uint32_t offset, std::size_t count) {
    return offset < bytes.size() ? bytes.substr(offset, count) : "";
  }
  std::string PayloadOf(int id) {
    auto it = payloads.find(id);
    return it != payloads.end() ? it->second : "new payload " + std::to_string(id);
  }
  void Step(const std::string& call) {
    calls.push_back(call);
    if (steps++ == cutAt) throw PowerCut{};
  }
  int missingId = 0;
  bool heldOpen = false;
  bool diskFull = false;
  int attempt = 0;
  int fullOnAttempt = -1;
  int steps = 0;
  int cutAt = -1;
  std::set<std::string> readOnly;
  std::set<std::string> refusesRights;
  std::set<std::string> madeByUser;  // made by a user, and so never trusted
  bool vouchesForNone = false;       // whose maker cannot be learnt
  DirectoryResult directoryResult = DirectoryResult::AlreadyExists;
  std::map<std::string, std::string> files;
  std::map<int, std::string> payloads;
  std::vector<std::string> calls;
};

using Files = std::map<std::string, std::string>;

const std::string kTarget = "C:\\quorvl\\quorveld.exe";
const std::string kTemporary = "C:\\quorvl\\quorveld.exe.new";
const std::string kBackup = "C:\\quorvl\\quorveld.exe.old";
const std::string kHigh = "C:\\quorvl\\CDRVHF32.DLL";
const std::string kLow = "C:\\quorvl\\CDRVDL32.DLL";
const std::vector<PayloadFile> kProgramOnly{{nullptr, 130}};

}  // namespace

TEST_CASE("payload files are written with up to four attempts") {
  FakePayloadDisk disk;
  disk.files[kTarget] = "old program";
  SUBCASE("the library files go beside the target, whatever its name") {
    CHECK(WritePayloadSet(disk, "D:\\x\\other.exe", {{"CDRVHF32.DLL", 131}}));
    CHECK(disk.calls == std::vector<std::string>{
                            "mkdir D:\\x\\", "secure folder D:\\x\\",
                            "write D:\\x\\CDRVHF32.DLL.new 131",
                            "replace D:\\x\\CDRVHF32.DLL", "remove D:\\x\\CDRVHF32.DLL.old"});
    CHECK(disk.files["D:\\x\\CDRVHF32.DLL"] == "new payload 131");
  }
  SUBCASE("a read-only file is cleared and replaced on the second attempt") {
    disk.readOnly = {kTarget};
    CHECK(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(disk.calls ==
          std::vector<std::string>{"mkdir C:\\quorvl\\", "secure folder C:\\quorvl\\",
                                   "copy " + kTarget + " to " + kBackup,
                                   "write " + kTemporary + " 130", "replace " + kTarget,
                                   "clear " + kTarget, "pause 500", "replace " + kTarget,
                                   "remove " + kBackup});
    CHECK(disk.files == Files{{kTarget, "new payload 130"}});
  }
  SUBCASE("a file held open fails after four attempts and keeps the old one, no temporary left") {
    disk.heldOpen = true;
    CHECK_FALSE(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(std::count(disk.calls.begin(), disk.calls.end(), "pause 500") == 4);
    CHECK(disk.files == Files{{kTarget, "old program"}});
  }
  SUBCASE("a directory that cannot be made stops before any attempt") {
    disk.directoryResult = DirectoryResult::Failed;
    CHECK_FALSE(WritePayloadSet(disk, "C:\\no\\such\\quorveld.exe", kProgramOnly));
    CHECK(disk.calls == std::vector<std::string>{"mkdir C:\\no\\such\\"});
  }
  SUBCASE("a payload missing from the image leaves every file untouched") {
    disk.missingId = 131;
    CHECK_FALSE(WritePayloadSet(disk, kTarget, kInstallationFiles));
    CHECK(disk.calls.empty());
  }
  SUBCASE("a path beyond the platform's limit is not opened") {
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\";
    CHECK_FALSE(WritePayloadSet(disk, deep + "quorveld.exe", kProgramOnly));
    CHECK(disk.calls.empty());
  }
}

TEST_CASE("a write cut short never touches the target and leaves no temporary file") {
  FakePayloadDisk disk;
  disk.files[kTarget] = "old program";
  SUBCASE("the disk fills up on the first attempt; the second one writes the file") {
    disk.fullOnAttempt = 0;
    CHECK(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(disk.calls[4] == "remove " + kTemporary);
    CHECK(disk.files == Files{{kTarget, "new payload 130"}});
  }
  SUBCASE("a disk that is full for every attempt keeps the old file whole") {
    disk.diskFull = true;
    CHECK_FALSE(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(std::count(disk.calls.begin(), disk.calls.end(), "pause 500") == 4);
    CHECK(std::count(disk.calls.begin(), disk.calls.end(), "replace " + kTarget) == 0);
    CHECK(disk.files == Files{{kTarget, "old program"}});
  }
  SUBCASE("a missing target is not created by a failed write") {
    disk.files.clear();
    disk.diskFull = true;
    CHECK_FALSE(WritePayloadSet(disk, kTarget, {{"CDRVDL32.DLL", 132}}));
    CHECK(disk.files.empty());
  }
}

TEST_CASE("a set is swapped in whole or rolled back") {
  FakePayloadDisk disk;
  const Files old{{kTarget, "old program"}, {kHigh, "old high"}, {kLow, "old low"}};
  disk.files = old;
  SUBCASE("a library that refuses the swap puts the program already swapped back") {
    // A library held open refuses every attempt.
    class HeldLibrary : public FakePayloadDisk {
     public:
      bool Replace(const std::string& source, const std::string& target) override {
        if (target == kLow) return Step("replace " + target), false;
        return FakePayloadDisk::Replace(source, target);
      }
    } held;
    held.files = old;
    CHECK_FALSE(WritePayloadSet(held, kTarget, kInstallationFiles));
    CHECK(held.files == old);
  }
  SUBCASE("an earlier set left half swapped is put back before the next one") {
    disk.files = {{kTarget, "new payload 130"}, {kBackup, "old program"},
                  {kHigh, "old high"},          {kHigh + ".old", "old high"},
                  {kHigh + ".new", "new"},      {kLow + ".old", "old lo"}};
    RecoverInterruptedSet(disk, kTarget);
    CHECK(disk.files == Files{{kTarget, "old program"}, {kHigh, "old high"}, {kLow, "old lo"}});
  }
  SUBCASE("copies a user planted are never put back as the program, only removed") {
    disk.files = old;
    disk.files[kBackup] = "planted program";
    disk.files[kTemporary] = "planted";
    disk.madeByUser = {kBackup, kTemporary};
    RecoverInterruptedSet(disk, kTarget);
    CHECK(disk.files == old);
  }
  SUBCASE("a failed set after planted copies puts back the updater's own copies") {
    class HeldLibrary : public FakePayloadDisk {
     public:
      bool Replace(const std::string& source, const std::string& target) override {
        if (target == kLow) return Step("replace " + target), false;
        return FakePayloadDisk::Replace(source, target);
      }
    } held;
    held.files = old;
    held.files[kBackup] = "planted program";
    held.madeByUser = {kBackup};
    CHECK_FALSE(WritePayloadSet(held, kTarget, kInstallationFiles));
    CHECK(held.files == old);
    SUBCASE("also where the disk cannot tell who made a file") {
      held.files = old;
      held.vouchesForNone = true;
      CHECK_FALSE(WritePayloadSet(held, kTarget, kInstallationFiles));
      CHECK(held.files == old);
    }
  }
  SUBCASE("a set whose swaps were all made only loses its copies") {
    disk.files = {{kTarget, "new payload 130"}, {kBackup, "old program"}};
    RecoverInterruptedSet(disk, kTarget);
    CHECK(disk.files == Files{{kTarget, "new payload 130"}});
  }
}

TEST_CASE("the installation gets its rights, or the set is not written") {
  FakePayloadDisk disk;
  const Files old{{kTarget, "old program"}, {kHigh, "old high"}, {kLow, "old low"}};
  disk.files = old;
  const auto position = [&](const std::string& call) {
    return std::find(disk.calls.begin(), disk.calls.end(), call) - disk.calls.begin();
  };
  SUBCASE("the folder's rights come before the first file is staged") {
    CHECK(WritePayloadSet(disk, kTarget, kInstallationFiles));
    CHECK(position("secure folder C:\\quorvl\\") == 1);
    CHECK(position("copy " + kTarget + " to " + kBackup) == 2);
  }
  SUBCASE("a folder that refuses them: nothing is staged and every file stays as it was") {
    disk.refusesRights = {"C:\\quorvl\\"};
    CHECK_FALSE(WritePayloadSet(disk, kTarget, kInstallationFiles));
    CHECK(disk.calls == std::vector<std::string>{"mkdir C:\\quorvl\\",
                                                 "secure folder C:\\quorvl\\"});
    CHECK(disk.files == old);
  }
  SUBCASE("libraries left in place get the programs' rights after the swaps") {
    CHECK(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(position("secure " + kHigh) > position("replace " + kTarget));
    CHECK(position("secure " + kLow) > position("replace " + kTarget));
    CHECK(position("secure " + kTarget) == static_cast<long>(disk.calls.size()));
    CHECK(disk.files == Files{{kTarget, "new payload 130"}, {kHigh, "old high"},
                              {kLow, "old low"}});
  }
  SUBCASE("a library that refuses them puts the swapped program back") {
    disk.refusesRights = {kLow};
    CHECK_FALSE(WritePayloadSet(disk, kTarget, kProgramOnly));
    CHECK(disk.files == old);
  }
  SUBCASE("a program in a drive's root is refused before its folder is touched") {
    CHECK_FALSE(WritePayloadSet(disk, "C:\\quorveld.exe", kProgramOnly));
    CHECK_FALSE(WritePayloadSet(disk, "quorveld.exe", kProgramOnly));
    CHECK(disk.calls.empty());
  }
}

namespace {

// What a run may leave: each file its old or its new content, whole, the set all old or all new
// where there was an old one.
void CheckOldOrNew(const Files& files, const Files& old, int cut) {
  const Files fresh{
      {kTarget, "new payload 130"}, {kHigh, "new payload 131"}, {kLow, "new payload 132"}};
  bool anyOld = false, anyNew = false;
  for (const auto& [path, content] : files) {
    INFO("cut at step " << cut << ", " << path);
    CHECK(fresh.count(path) == 1);
    const bool isNew = content == fresh.at(path);
    const bool isOld = old.count(path) && content == old.at(path);
    CHECK((isNew || isOld));
    if (old.count(path)) (isNew ? anyNew : anyOld) = true;
  }
  INFO("cut at step " << cut);
  CHECK_FALSE((anyOld && anyNew));
}

}  // namespace

TEST_CASE("a power cut at any step leaves the old set or the new one") {
  const std::vector<Files> starts{
      {{kTarget, "old program"}, {kHigh, "old high"}, {kLow, "old low"}},
      {{kTarget, "old program"}, {kLow, "old low"}},
      {}};
  int cutPoints = 0;
  for (const Files& old : starts) {
    for (int cut = 0;; ++cut) {
      FakePayloadDisk disk;
      disk.files = old;
      disk.readOnly = {kHigh};  // one more step: the refused swap and its clearing
      disk.cutAt = cut;
      bool finished = false;
      try {
        finished = WritePayloadSet(disk, kTarget, kInstallationFiles);
      } catch (const PowerCut&) {
      }
      if (finished) break;
      ++cutPoints;
      FakePayloadDisk after;
      after.files = disk.files;
      RecoverInterruptedSet(after, kTarget);
      CheckOldOrNew(after.files, old, cut);
      FakePayloadDisk nextRun;
      nextRun.files = disk.files;
      CHECK(WritePayloadSet(nextRun, kTarget, kInstallationFiles));
      CHECK(nextRun.files == Files{{kTarget, "new payload 130"},
                                   {kHigh, "new payload 131"},
                                   {kLow, "new payload 132"}});
    }
  }
  MESSAGE("power cut tried at " << cutPoints << " steps");
  CHECK(cutPoints > 20);
}

TEST_CASE("an installation is complete with the program carried and both libraries") {
  FakePayloadDisk disk;
  disk.payloads = {{130, "MZ program"}};
  disk.files[kTarget] = "MZ program";
  CHECK(FileMatchesPayload(disk, kTarget, 130));
  disk.files[kTarget] = "MZ program and more";
  CHECK_FALSE(FileMatchesPayload(disk, kTarget, 130));
  disk.files[kTarget] = "MZ prog";
  CHECK_FALSE(FileMatchesPayload(disk, kTarget, 130));
  disk.files.erase(kTarget);
  CHECK_FALSE(FileMatchesPayload(disk, kTarget, 130));
  disk.payloads[130] = std::string(64 * 1024, 'p');
  disk.files[kTarget] = disk.payloads[130];
  CHECK(FileMatchesPayload(disk, kTarget, 130));
  disk.files[kTarget] += "x";
  CHECK_FALSE(FileMatchesPayload(disk, kTarget, 130));
}

namespace {

constexpr std::uint16_t kI386 = 0x014c;
constexpr std::uint16_t kAmd64 = 0x8664;

// The start of an image for `machine` whose headers begin at `headers`.
std::string Image(std::uint16_t machine, std::uint32_t headers = 0x80) {
  std::string bytes(headers + 24, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(headers >> (8 * i));
  bytes.replace(headers, 4, std::string("PE\0\0", 4));
  bytes[headers + 4] = static_cast<char>(machine & 0xFF);
  bytes[headers + 5] = static_cast<char>(machine >> 8);
  return bytes;
}

const std::string kLibrary = "C:\\quorvl\\CDRVHF32.DLL";

}  // namespace

TEST_CASE("a library matches its payload only as an image for the same machine") {
  FakePayloadDisk disk;
  disk.payloads[131] = Image(kI386);
  auto matches = [&] { return LibraryMatchesPayload(disk, kTarget, "CDRVHF32.DLL", 131); };
  SUBCASE("the same machine, wherever the headers start") {
    disk.files[kLibrary] = Image(kI386);
    CHECK(matches());
    disk.files[kLibrary] = Image(kI386, 0x2000);
    CHECK(matches());
    // Reading only: nothing is written, moved or removed.
    CHECK_FALSE(disk.calls.empty());
    for (const std::string& call : disk.calls) CHECK(call.rfind("read ", 0) == 0);
  }
  SUBCASE("another machine") {
    disk.files[kLibrary] = Image(kAmd64);
    CHECK_FALSE(matches());
    disk.payloads[131] = Image(kAmd64, 0x100);
    CHECK(matches());
  }
  SUBCASE("a missing library, or one in another folder") {
    CHECK_FALSE(matches());
    disk.files["C:\\other\\CDRVHF32.DLL"] = Image(kI386);
    CHECK_FALSE(matches());
  }
  SUBCASE("files that are no image") {
    std::string noMark = Image(kI386);
    noMark[0] = 'X';
    std::string noSignature = Image(kI386);
    noSignature[0x81] = 'X';
    const std::string cutShort = Image(kI386).substr(0, 0x84);
    std::string headersBeyondTheEnd = Image(kI386);
    headersBeyondTheEnd.replace(0x3C, 4, "\xf0\xff\xff\xff");
    for (const std::string& bytes :
         {noMark, noSignature, cutShort, headersBeyondTheEnd, std::string("MZ"), std::string()}) {
      disk.files[kLibrary] = bytes;
      CHECK_FALSE(matches());
    }
  }
  SUBCASE("a payload missing from the image, or no image itself, matches nothing") {
    disk.files[kLibrary] = Image(kI386);
    disk.missingId = 131;
    CHECK_FALSE(matches());
    disk.missingId = 0;
    disk.payloads[131] = "not an image";
    CHECK_FALSE(matches());
  }
}

namespace {

// Directories by path ("C:\a\"), each with its entries in listing order.
class FakeSearchDisk : public SearchDisk {
 public:
  std::vector<std::string> FixedDriveRoots() override { return roots; }
  std::vector<DirectoryEntry> List(const std::string& pattern) override {
    const std::string directory = DirectoryOf(pattern);
    const std::string name = pattern.substr(directory.size());
    std::vector<DirectoryEntry> matches;
    for (const DirectoryEntry& entry : tree[directory]) {
      if (name == "*" || entry.name == name) matches.push_back(entry);
    }
    return matches;
  }
  void ShowLocation(const std::string& directory, bool redrawWindow) override {
    shown.push_back(directory);
    if (redrawWindow) windowRedraws.push_back(shown.size());
  }
  std::vector<std::string> roots;
  std::map<std::string, std::vector<DirectoryEntry>> tree;
  std::vector<std::string> shown;
  std::vector<std::size_t> windowRedraws;
};

DirectoryEntry Folder(const std::string& name) {
  return {name, true, false, false};
}
DirectoryEntry File(const std::string& name) {
  return {name, false, false, false};
}

}  // namespace

TEST_CASE("the search walks the fixed drives breadth-first") {
  FakeSearchDisk disk;
  std::deque<std::string> found;
  disk.roots = {"C:\\", "D:\\"};
  disk.tree["C:\\"] = {Folder("b"), Folder("a"), File("quorveld.exe")};
  disk.tree["C:\\b\\"] = {Folder("deep")};
  disk.tree["C:\\b\\deep\\"] = {File("quorveld.exe")};
  disk.tree["C:\\a\\"] = {File("quorveld.exe")};
  disk.tree["D:\\"] = {Folder("old")};
  disk.tree["D:\\old\\"] = {File("quorveld.exe")};

  SearchForServiceProgram(disk, found);

  CHECK(disk.shown == std::vector<std::string>{"C:\\", "C:\\b\\", "C:\\a\\", "C:\\b\\deep\\",
                                               "D:\\", "D:\\old\\", ""});
  CHECK(found == std::deque<std::string>{"C:\\quorveld.exe", "C:\\a\\quorveld.exe",
                                         "C:\\b\\deep\\quorveld.exe", "D:\\old\\quorveld.exe"});
  CHECK(disk.windowRedraws.empty());
}

TEST_CASE("folders the search may not enter") {
  FakeSearchDisk disk;
  std::deque<std::string> queue;
  disk.tree["C:\\"] = {Folder("."),
                       Folder(".."),
                       Folder(".cache"),
                       {"Hidden", true, true, false},
                       {"System", true, false, true},
                       {"Junction", true, false, false, true},
                       File("notes.txt"),
                       Folder("Program Files"),
                       Folder(std::string(250, 'x')),
                       Folder(std::string(200, 'y'))};
  CHECK(QueueSubdirectories(disk, "C:\\", queue) == 2);
  CHECK(queue ==
        std::deque<std::string>{"C:\\Program Files\\", "C:\\" + std::string(200, 'y') + "\\"});
  SUBCASE("a folder bearing the program's name is not a copy") {
    disk.roots = {"C:\\"};
    disk.tree["C:\\"] = {Folder("quorveld.exe")};
    std::deque<std::string> found;
    SearchForServiceProgram(disk, found);
    CHECK(found.empty());
  }
}

TEST_CASE("the whole window is redrawn every hundredth folder") {
  FakeSearchDisk disk;
  std::deque<std::string> found;
  disk.roots = {"C:\\"};
  for (int i = 0; i < 250; ++i) disk.tree["C:\\"].push_back(Folder("d" + std::to_string(i)));
  SearchForServiceProgram(disk, found);
  CHECK(disk.windowRedraws == std::vector<std::size_t>{100, 200});
  CHECK(disk.shown.back() == "");
}

TEST_CASE("field exchange reads unsigned numbers within their range") {
  using namespace quorvel::framework;
  unsigned value = 7;
  CHECK(ParseUnsignedField(" 48 ", 1, 48, value) == UnsignedFieldResult::Valid);
  CHECK(value == 48u);
  SUBCASE("no number") {
    for (const char* text : {"", "  ", "abc", "12abc", "-5", "+5", "1 2"}) {
      CAPTURE(text);
      CHECK(ParseUnsignedField(text, 1, 48, value) == UnsignedFieldResult::NoNumber);
    }
    CHECK(value == 48u);
  }
  SUBCASE("out of range, however large") {
    CHECK(ParseUnsignedField("0", 1, 48, value) == UnsignedFieldResult::OutOfRange);
    CHECK(ParseUnsignedField("49", 1, 48, value) == UnsignedFieldResult::OutOfRange);
    CHECK(ParseUnsignedField("65536", 0, 65535, value) == UnsignedFieldResult::OutOfRange);
    CHECK(ParseUnsignedField("99999999999999999999999", 0, 4294967295u, value) ==
          UnsignedFieldResult::OutOfRange);
  }
  CHECK(std::string(kNoNumberMessage) == "Please enter a positive integer.");
  CHECK(RangeMessage(0, 65535) == "Please enter an integer between 0 and 65535.");
}

TEST_CASE("check boxes show 0, 1 and the third state 2; other values become 0") {
  using quorvel::framework::CheckStateToShow;
  for (int stored : {0, 1, 2}) {
    int value = stored;
    CHECK(CheckStateToShow(value) == stored);
    CHECK(value == stored);
  }
  int value = 3;
  CHECK(CheckStateToShow(value) == 0);
  CHECK(value == 0);
  value = -1;
  CHECK(CheckStateToShow(value) == 0);
}

TEST_CASE("a file copied into the installation is never found cut short under its name") {
  const std::string source = "C:\\release\\updater.exe";
  const std::string copy = "C:\\quorvl\\quorvel-uninstall.exe";
  for (const bool hadOne : {false, true}) {
    int cutPoints = 0;
    for (int cut = 0;; ++cut) {
      FakePayloadDisk disk;
      disk.files[source] = "the updater's image";
      if (hadOne) disk.files[copy] = "an older updater";
      disk.cutAt = cut;
      try {
        const bool copied = CopyInstalledFile(disk, source, copy);
        CHECK(copied);
        CHECK(disk.files[copy] == "the updater's image");
        CHECK(disk.files.count(copy + ".new") == 0);
        break;
      } catch (const PowerCut&) {
        ++cutPoints;
      }
      INFO("cut at step " << cut);
      if (disk.files.count(copy)) {
        CHECK((disk.files[copy] == "the updater's image" || disk.files[copy] == "an older updater"));
      } else {
        CHECK_FALSE(hadOne);
      }
    }
    CHECK(cutPoints == 2);
  }
  {
    // A copy that cannot take the place leaves no staged file.
    FakePayloadDisk disk;
    disk.files[source] = "the updater's image";
    disk.heldOpen = true;
    CHECK_FALSE(CopyInstalledFile(disk, source, copy));
    CHECK(disk.files.count(copy + ".new") == 0);
    CHECK(disk.files.count(copy) == 0);
  }
}
