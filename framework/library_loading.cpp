#include "framework/library_loading.h"

namespace quorvel::framework {

LibraryLoad SystemLibraryLoad(const std::string& name, bool systemFolderSearch,
                              const std::string& systemFolder) {
  if (name.empty()) return {};
  if (systemFolderSearch) return {name, kLoadLibrarySearchSystem32};
  // Without its folder the name alone would be looked for in the program's folder first.
  if (systemFolder.empty()) return {};
  const bool separated = systemFolder.back() == '\\' || systemFolder.back() == '/';
  return {systemFolder + (separated ? "" : "\\") + name, kLoadWithAlteredSearchPath};
}

}  // namespace quorvel::framework
