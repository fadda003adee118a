#pragma once
// How a system library is loaded so that neither it nor the libraries it loads in turn come from
// the program's folder, which a user may be able to write. Free of the platform so it can be
// tested on its own.
#include <string>

namespace quorvel::framework {

// LoadLibraryExA's flags by value: the Windows 7 headers the build uses lack the first one, which
// Windows 8 and Windows 7 with the loader update (KB2533623) understand.
inline constexpr unsigned long kLoadLibrarySearchSystem32 = 0x00000800;
inline constexpr unsigned long kLoadWithAlteredSearchPath = 0x00000008;

struct LibraryLoad {
  std::string file;  // empty: the library cannot be loaded safely
  unsigned long flags = 0;
};

// The LoadLibraryExA arguments for the system library `name` ("wininet.dll"). Where the loader
// can search the system folder alone, that search, which also holds for the library's own
// dependencies; elsewhere the library's full path in `systemFolder` with the altered search
// path, so that its dependencies are looked for beside it before anywhere else.
LibraryLoad SystemLibraryLoad(const std::string& name, bool systemFolderSearch,
                              const std::string& systemFolder);

}  // namespace quorvel::framework
