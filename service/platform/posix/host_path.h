#pragma once
// Service paths carry backslashes, as on the PC; on POSIX hosts they become slashes.
#include <string>

namespace quorvel {

inline std::string HostPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

}  // namespace quorvel
