#include "updater/paths.h"

namespace quorvel::updater {

PathParts SplitPath(const std::string& path) {
  PathParts parts;
  std::size_t rest = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    rest = 2;
  }
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash >= rest) {
    parts.directory = path.substr(rest, slash + 1 - rest);
    rest = slash + 1;
  }
  const std::string file = path.substr(rest);
  const std::size_t dot = file.rfind('.');
  parts.name = file.substr(0, dot);
  if (dot != std::string::npos) parts.extension = file.substr(dot);
  return parts;
}

std::string DirectoryOf(const std::string& path) {
  const PathParts parts = SplitPath(path);
  return parts.drive + parts.directory;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '\\' || directory.back() == '/') {
    return directory + name;
  }
  return directory + "\\" + name;
}

}  // namespace quorvel::updater
