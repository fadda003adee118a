#include <doctest.h>

#include "framework/library_loading.h"

namespace quorvel::framework {
namespace {

TEST_CASE("a system library is searched for in the system folder alone where the loader can") {
  const LibraryLoad load = SystemLibraryLoad("wininet.dll", true, "C:\\Windows\\system32");
  CHECK(load.file == "wininet.dll");
  CHECK(load.flags == kLoadLibrarySearchSystem32);
}

TEST_CASE("without the system-folder search a system library is loaded by its full path") {
  SUBCASE("its dependencies are then searched beside it first") {
    const LibraryLoad load = SystemLibraryLoad("version.dll", false, "C:\\Windows\\system32");
    CHECK(load.file == "C:\\Windows\\system32\\version.dll");
    CHECK(load.flags == kLoadWithAlteredSearchPath);
  }
  SUBCASE("a folder given with its separator gets no second one") {
    CHECK(SystemLibraryLoad("comctl32.dll", false, "C:\\").file == "C:\\comctl32.dll");
  }
  SUBCASE("an unknown system folder never leaves the bare name to the program's folder") {
    CHECK(SystemLibraryLoad("version.dll", false, "").file.empty());
  }
}

}  // namespace
}  // namespace quorvel::framework
