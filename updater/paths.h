#pragma once
// Path rules of the updater: the runtime's splitting rule and the 260-character limit of the
// platform's ANSI file functions.
#include <cstddef>
#include <string>

namespace quorvel::updater {

// Longest path the platform's ANSI file functions take, terminating zero included.
constexpr std::size_t kPathLimit = 260;

inline bool FitsPathLimit(const std::string& path) {
  return path.size() < kPathLimit;
}

struct PathParts {
  std::string drive;      // through the colon: "C:"
  std::string directory;  // through the last backslash or slash: "\quorvl\"
  std::string name;       // "quorveld"
  std::string extension;  // from the last full stop of the name on: ".exe"
};

PathParts SplitPath(const std::string& path);

// Drive and directory of `path`: "C:\quorvl\" for "C:\quorvl\quorveld.exe".
std::string DirectoryOf(const std::string& path);

// Joins a directory and a file name, with a backslash between them unless the directory
// already ends with one (or is empty).
std::string JoinPath(const std::string& directory, const std::string& name);

}  // namespace quorvel::updater
