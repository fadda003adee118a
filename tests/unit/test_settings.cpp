#include <doctest.h>

#include <filesystem>

#include "service/settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/fakes/power_cut_file_system.h"
#include "tests/support/temp_dir.h"

using namespace quorvel;
using quorvel::testing::MemoryProfileStore;

namespace {

Settings Read(MemoryProfileStore& store) { return ReadSettings(store, "C:\\quorvl"); }

std::string SelectedPorts(const Settings& s) {
  std::string list;
  for (int i = 0; i < kPortCount; ++i)
    if (s.PortSelected[i]) list += (list.empty() ? "" : ",") + std::to_string(i);
  return list;
}

}  // namespace

TEST_CASE("a missing store gives every default") {
  MemoryProfileStore store;
  const Settings s = Read(store);
  CHECK(s.ServerDomain == "localhost");
  CHECK(s.ServerPort == 80);
  CHECK(s.IgnoreProxy == 1);
  CHECK(s.LocalDir == "C:\\quorvl");
  CHECK(s.SynchronizeClocks == 1);
  CHECK(s.Logging == 1);
  CHECK(s.BoxRate == 24);
  CHECK(s.UploadRate == 4);
  CHECK(s.Encrypt == 0);
  CHECK(SelectedPorts(s) == "0");
}

TEST_CASE("stored values are replaced only where the rules say") {
  MemoryProfileStore store;
  SUBCASE("zero rates and port") {
    store.Set(kSettingsFile, "BoxRate", "0");
    store.Set(kSettingsFile, "UploadRate", "0");
    store.Set(kSettingsFile, "ServerPort", "0");
    const Settings s = Read(store);
    CHECK(s.BoxRate == 4);  // not the default 24
    CHECK(s.UploadRate == 4);
    CHECK(s.ServerPort == 80);
  }
  SUBCASE("present but empty texts") {
    store.Set(kSettingsFile, "LocalDir", "");
    store.Set(kSettingsFile, "ServerDomain", "");
    const Settings s = Read(store);
    CHECK(s.LocalDir == "C:\\quorvl");
    CHECK(s.ServerDomain == "127.0.0.1");
  }
  SUBCASE("negative and oversized values stay as read") {
    store.Set(kSettingsFile, "BoxRate", "-5");
    store.Set(kSettingsFile, "ServerPort", "65616");
    store.Set(kSettingsFile, "LocalDir", "D:\\data\\");
    const Settings s = Read(store);
    CHECK(s.BoxRate == -5);
    CHECK(s.ServerPort == 65616);
    CHECK(s.LocalDir == "D:\\data\\");
  }
}

TEST_CASE("port selection from ComPorts and the legacy ComPort") {
  MemoryProfileStore store;
  SUBCASE("ComPort alone selects that one port") {
    store.Set(kSettingsFile, "ComPort", "3");
    CHECK(SelectedPorts(Read(store)) == "3");
  }
  SUBCASE("ComPorts wins over ComPort") {
    store.Set(kSettingsFile, "ComPort", "3");
    store.Set(kSettingsFile, "ComPorts", "1");
    CHECK(SelectedPorts(Read(store)) == "0");
  }
  SUBCASE("an empty ComPorts selects nothing") {
    store.Set(kSettingsFile, "ComPorts", "");
    CHECK(SelectedPorts(Read(store)) == "");
  }
  SUBCASE("a text ending inside a count keeps what was decoded") {
    store.Set(kSettingsFile, "ComPorts", "1125");
    CHECK(SelectedPorts(Read(store)) == "0,1");
  }
  SUBCASE("only the first 256 flags count") {
    store.Set(kSettingsFile, "ComPorts", "990990990390" "1");
    CHECK(SelectedPorts(Read(store)).empty());
    store.Set(kSettingsFile, "ComPorts", "990990990380" "11");
    CHECK(SelectedPorts(Read(store)) == "255");
  }
}

TEST_CASE("compact port flags decode and encode") {
  const std::string none(256, '0');
  CHECK(DecodePortFlags("990990990390") == none);
  CHECK(DecodePortFlags("11990990990370") == "11" + std::string(254, '0'));
  CHECK(DecodePortFlags("2401990990990340") == "00001" + std::string(251, '0'));
  CHECK(DecodePortFlags("001") == "001");
  CHECK(DecodePortFlags("") == "");
  CHECK(DecodePortFlags("25") == "");
  CHECK(DecodePortFlags("21x") == "x");
  CHECK(DecodePortFlags("201") == "");
  CHECK(DecodePortFlags("1x") == "1");  // a count cut short stops the decoding

  CHECK(EncodePortFlags(none) == "990990990390");
  CHECK(EncodePortFlags("11" + std::string(254, '0')) == "11990990990370");
  CHECK(EncodePortFlags("00001" + std::string(251, '0')) == "2401990990990340");
  CHECK(EncodePortFlags("") == "");

  std::string mixed(256, '0');
  for (int i : {0, 3, 4, 5, 6, 100, 255}) mixed[i] = '1';
  CHECK(DecodePortFlags(EncodePortFlags(mixed)) == mixed);
}

TEST_CASE("written settings read back the same") {
  MemoryProfileStore store;
  Settings s = Read(store);
  s.PortSelected[2] = 1;
  s.BoxRate = 48;
  s.ServerDomain = "counts.example";
  WriteSettings(store, s);
  REQUIRE(store.writes.size() == 10);
  CHECK(store.writes[0] == "quorveld.INI/Options/ComPorts=101990990990360");
  CHECK(store.writes[4] == "quorveld.INI/Options/BoxRate=48");
  CHECK(store.writes[9] == "quorveld.INI/Options/IgnoreProxy=1");
  const Settings back = Read(store);
  CHECK(SelectedPorts(back) == "0,2");
  CHECK(back.BoxRate == 48);
  CHECK(back.ServerDomain == "counts.example");
}

TEST_CASE("Secure is on only when stored as 1") {
  MemoryProfileStore store;
  CHECK(Read(store).Secure == 0);
  for (const char* on : {"1", " 1"}) {
    store.Set(kSettingsFile, "Secure", on);
    CHECK_MESSAGE(Read(store).Secure == 1, on);
  }
  for (const char* off : {"0", "2", "-1", "abc", "", "65537"}) {
    store.Set(kSettingsFile, "Secure", off);
    CHECK_MESSAGE(Read(store).Secure == 0, off);
  }
}

TEST_CASE("writing the settings back leaves Secure as it is stored") {
  MemoryProfileStore store;
  store.Set(kSettingsFile, "Secure", "1");
  Settings s = Read(store);
  s.Encrypt = 1;
  WriteSettings(store, s);
  for (const std::string& write : store.writes) CHECK(write.find("Secure") == std::string::npos);
  CHECK(store.values[{kSettingsFile, kSettingsSection, "Secure"}] == "1");
  CHECK(Read(store).Secure == 1);
}

TEST_CASE("program directory is the path before its last backslash") {
  CHECK(ProgramDirectory("C:\\quorvl\\quorveld.exe") == "C:\\quorvl");
  CHECK(ProgramDirectory("quorveld.exe") == "quorveld.exe");
}

namespace {

using quorvel::testing::FileProfileStore;
using quorvel::testing::PowerCutFileSystem;
using quorvel::testing::TempDir;

// quorveld.INI in a folder of its own, rewritten in place by every write as the profile
// functions do it, on a file system that can lose its power.
struct SettingsFolder {
  TempDir dir;
  PowerCutFileSystem files;
  FileProfileStore store{files, dir.ServicePath()};
  const std::string path = store.PathOf(kSettingsFile);
  const std::string oldText =
      "[Options]\r\nBoxRate=12\r\nComPorts=1\r\nSecure=1\r\nServerDomain=old.example\r\n";

  SettingsFolder() {
    dir.Write(kSettingsFile, oldText);
    files.TakeAsDurable(path);
  }
  Settings Edited() {
    Settings s = Read(store);
    s.BoxRate = 7;
    s.ServerDomain = "new.example";
    s.PortSelected[2] = 1;
    return s;
  }
  std::string Text() const { return dir.Read(kSettingsFile); }
  bool CopyLeft() const {
    return std::filesystem::exists(dir.File(std::string(kSettingsFile) + ".copy"));
  }
};

}  // namespace

TEST_CASE("a save writes every setting, or says which file failed and why and keeps the old") {
  {
    SettingsFolder f;
    CHECK_FALSE(SaveSettings(f.store, f.files, f.Edited()));
    const Settings back = Read(f.store);
    CHECK(back.BoxRate == 7);
    CHECK(back.ServerDomain == "new.example");
    CHECK(SelectedPorts(back) == "0,2");
    CHECK(back.Secure == 1);
    CHECK(f.store.attempts == 10);
    CHECK_FALSE(f.CopyLeft());
  }
  for (int failAt = 1; failAt <= 10; ++failAt) {
    CAPTURE(failAt);
    SettingsFolder f;
    const Settings edited = f.Edited();
    f.store.failAt = failAt;
    const auto failure = SaveSettings(f.store, f.files, edited);
    REQUIRE(failure);
    CHECK(failure->file == f.path);
    CHECK(failure->reason == "Access denied.");
    CHECK(f.store.attempts == failAt);  // nothing more is tried after a failure
    CHECK(f.Text() == f.oldText);
    CHECK_FALSE(f.CopyLeft());
  }
  {
    // A user who may write the file but not create the copy beside it saves in place.
    SettingsFolder f;
    const Settings edited = f.Edited();
    f.files.busy.insert(f.path + ".copy.new");
    CHECK_FALSE(SaveSettings(f.store, f.files, edited));
    CHECK(Read(f.store).BoxRate == 7);
    CHECK_FALSE(f.CopyLeft());
  }
  {
    // A user who may do neither is told about the settings file, which keeps the old text.
    SettingsFolder f;
    const Settings edited = f.Edited();
    f.files.busy.insert(f.path + ".copy.new");
    f.store.failAt = 1;
    const auto failure = SaveSettings(f.store, f.files, edited);
    REQUIRE(failure);
    CHECK(failure->file == f.path);
    CHECK(f.Text() == f.oldText);
  }
}

TEST_CASE("a kill or power cut at any step of a save leaves all the old settings or all the new") {
  std::string newText;
  int operations = 0;
  {
    SettingsFolder f;
    const Settings edited = f.Edited();
    const int before = f.files.operations();
    REQUIRE_FALSE(SaveSettings(f.store, f.files, edited));
    operations = f.files.operations() - before;
    newText = f.Text();
  }
  REQUIRE(newText.find("BoxRate=7") != std::string::npos);
  int leftOld = 0, leftNew = 0;
  for (int cut = 1; cut <= operations; ++cut) {
    for (const bool powerCut : {false, true}) {
      CAPTURE(cut);
      CAPTURE(powerCut);
      SettingsFolder f;
      const Settings edited = f.Edited();
      f.files.CutAfter(f.files.operations() + cut);
      CHECK_THROWS_AS(SaveSettings(f.store, f.files, edited), PowerCutFileSystem::PowerCut);
      if (powerCut)
        f.files.LeaveOnlyDurable();  // only what reached the disk itself
      else
        f.files.CutAfter(0);  // killed: the system keeps every write
      RestoreSettingsFile(f.store, f.files);  // the next start, before the settings are read
      const std::string text = f.Text();
      CHECK((text == f.oldText || text == newText));
      leftOld += text == f.oldText;
      leftNew += text == newText;
      CHECK_FALSE(f.CopyLeft());
    }
  }
  MESSAGE(operations << " cut points tried");
  CHECK(leftOld > 0);
  CHECK(leftNew > 0);
}
