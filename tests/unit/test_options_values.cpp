#include <doctest.h>

#include <filesystem>
#include <vector>

#include "service/dialogs/options_values.h"
#include "tests/support/temp_dir.h"

namespace quorvel {
namespace {

using testing::TempDir;

// A file system on which nothing opens; it remembers what was asked for.
class NoFiles : public FileSystem {
 public:
  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override {
    opened.push_back(path + " " + mode + (denyWrite ? " deny-write" : ""));
    return nullptr;
  }
  bool Commit(std::FILE*) override { return false; }
  bool Replace(const std::string&, const std::string&) override { return false; }
  bool Exists(const std::string&) override { return false; }
  bool Remove(const std::string&) override { return false; }
  bool Truncate(const std::string&, std::int64_t) override { return false; }
  std::vector<std::string> opened;
};

TEST_CASE("closing the dialog stores every value and drops trailing backslashes of LocalDir") {
  Settings settings;
  settings.BoxRate = 12;
  settings.UploadRate = 3;
  settings.LocalDir = "C:\\quorvl";
  settings.Logging = 1;
  settings.ServerDomain = "counts.example";
  settings.ServerPort = 8080;
  settings.SynchronizeClocks = 0;
  settings.Encrypt = 1;
  settings.IgnoreProxy = 1;
  settings.Secure = 1;  // not among the dialog's controls
  settings.PortSelected[2] = 1;

  OptionsValues values = ValuesFromSettings(settings);
  CHECK(values.boxRate == 12);
  CHECK(values.uploadRate == 3);
  CHECK(values.serverPort == 8080);
  CHECK(values.portFlags[2] == 1);

  Settings stored;
  SUBCASE("unchanged values come back as they were") {
    StoreValues(values, stored);
    CHECK(PortFlagText(stored) == PortFlagText(settings));
    CHECK(stored.BoxRate == 12);
    CHECK(stored.UploadRate == 3);
    CHECK(stored.LocalDir == "C:\\quorvl");
    CHECK(stored.Logging == 1);
    CHECK(stored.ServerDomain == "counts.example");
    CHECK(stored.ServerPort == 8080);
    CHECK(stored.SynchronizeClocks == 0);
    CHECK(stored.Encrypt == 1);
    CHECK(stored.IgnoreProxy == 1);
  }
  SUBCASE("a setting without a control keeps its value") {
    StoreValues(values, settings);
    CHECK(settings.Secure == 1);
  }
  SUBCASE("one trailing backslash") {
    values.localDir = "C:\\data\\";
    StoreValues(values, stored);
    CHECK(stored.LocalDir == "C:\\data");
  }
  SUBCASE("several trailing backslashes") {
    values.localDir = "C:\\data\\\\";
    StoreValues(values, stored);
    CHECK(stored.LocalDir == "C:\\data");
  }
  SUBCASE("a drive root") {
    values.localDir = "C:\\";
    StoreValues(values, stored);
    CHECK(stored.LocalDir == "C:");
  }
}

TEST_CASE("OK's file check opens both files for appending in the chosen folder") {
  TempDir dir;

  SUBCASE("missing files are created empty and nothing is asked") {
    CHECK(CheckLocalFiles(*MakeSystemFileSystem(), dir.ServicePath()) == "");
    CHECK(std::filesystem::exists(dir.File("quorveld.log")));
    CHECK(dir.Read("quorveld.log") == "");
    CHECK(dir.Read("quorveld.dat") == "");
  }
  SUBCASE("a trailing backslash still names the same folder; contents stay") {
    dir.Write("quorveld.log", "old log\r\n");
    dir.Write("quorveld.dat", "old cache\n");
    CHECK(CheckLocalFiles(*MakeSystemFileSystem(), dir.ServicePath() + "\\") == "");
    CHECK(dir.Read("quorveld.log") == "old log\r\n");
    CHECK(dir.Read("quorveld.dat") == "old cache\n");
  }
  SUBCASE("only the file that fails is named") {
    std::filesystem::create_directory(dir.File("quorveld.dat"));
    CHECK(CheckLocalFiles(*MakeSystemFileSystem(), dir.ServicePath()) ==
          "Errors encountered.\n\nUnable to open file for write mode:\n" + dir.ServicePath() +
              "\\quorveld.dat\n\nContinue anyway?");
  }
  SUBCASE("a missing folder names both files, the log first") {
    const std::string missing = dir.ServicePath() + "\\absent";
    CHECK(CheckLocalFiles(*MakeSystemFileSystem(), missing) ==
          "Errors encountered.\n\n"
          "Unable to open file for write mode:\n" +
              missing +
              "\\quorveld.log\n\n"
              "Unable to open file for write mode:\n" +
              missing +
              "\\quorveld.dat\n\n"
              "Continue anyway?");
    CHECK_FALSE(std::filesystem::exists(dir.File("absent")));
  }
}

TEST_CASE("the file check's paths") {
  NoFiles files;
  SUBCASE("log as text, cache as binary, both left readable to others") {
    CheckLocalFiles(files, "C:\\data");
    CHECK(files.opened == std::vector<std::string>{"C:\\data\\quorveld.log a deny-write",
                                                   "C:\\data\\quorveld.dat ab deny-write"});
  }
  SUBCASE("a drive root keeps its backslash and gets no second one") {
    CheckLocalFiles(files, "C:\\");
    CHECK(files.opened.front() == "C:\\quorveld.log a deny-write");
  }
  SUBCASE("only the first 259 characters of the folder count") {
    const std::string longFolder = "C:\\" + std::string(300, 'x');
    CheckLocalFiles(files, longFolder);
    CHECK(files.opened.front() == longFolder.substr(0, 259) + "\\quorveld.log a deny-write");
  }
}

TEST_CASE("settings that could not be saved are said with the file and the system's reason") {
  CHECK(NotSavedMessage({"C:\\WINDOWS\\quorveld.INI", "Access denied."}) ==
        "The settings were not saved.\n\nUnable to write file:\nC:\\WINDOWS\\quorveld.INI\n\n"
        "Access denied.");
  CHECK(NotSavedMessage({"quorveld.INI", ""}) ==
        "The settings were not saved.\n\nUnable to write file:\nquorveld.INI");
}

TEST_CASE("port list items follow the ports found and preselect the flagged ones") {
  PortFlags flags{};
  flags[0] = 1;
  flags[2] = 1;

  SUBCASE("flagged COM1 and COM3 of three ports") {
    const auto items = PortItems({1, 2, 3}, flags, "Com %u");
    REQUIRE(items.size() == 3);
    CHECK(items[0].text == "Com 1");
    CHECK(items[0].data == 0);
    CHECK(items[0].selected);
    CHECK(items[1].text == "Com 2");
    CHECK_FALSE(items[1].selected);
    CHECK(items[2].text == "Com 3");
    CHECK(items[2].data == 2);
    CHECK(items[2].selected);
  }
  SUBCASE("ports outside 1 to 256 are listed, never selected") {
    flags[255] = 1;
    const auto items = PortItems({0, 256, 257}, flags, "Com %u");
    REQUIRE(items.size() == 3);
    CHECK(items[0].text == "Com 0");
    CHECK(items[0].data == -1);
    CHECK_FALSE(items[0].selected);
    CHECK(items[1].selected);
    CHECK(items[2].data == 256);
    CHECK_FALSE(items[2].selected);
  }
  SUBCASE("a port found twice is listed twice") {
    CHECK(PortItems({10, 10}, flags, "Com %u").size() == 2);
  }
}

TEST_CASE("the selection alone decides the port flags") {
  PortFlags flags{};
  flags[0] = 1;  // flagged before, but no item of it is selected now

  SUBCASE("a selected item sets the flag of its data") {
    CHECK(FlagsFromSelection({9}, flags));
    PortFlags expected{};
    expected[9] = 1;
    CHECK(flags == expected);
  }
  SUBCASE("nothing selected clears everything") {
    CHECK_FALSE(FlagsFromSelection({}, flags));
    CHECK(flags == PortFlags{});
  }
  SUBCASE("data naming no port is ignored") {
    CHECK(FlagsFromSelection({-1, 256, 255}, flags));
    PortFlags expected{};
    expected[255] = 1;
    CHECK(flags == expected);
  }
}

}  // namespace
}  // namespace quorvel
