#include <doctest.h>

#include "service/settings/settings.h"
#include "tests/fakes/fakes.h"

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
