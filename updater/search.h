#pragma once
// The breadth-first search of the fixed drives for copies of the service program.
#include <deque>
#include <string>
#include <vector>

namespace quorvel::updater {

inline constexpr char kServiceProgramName[] = "quorveld.exe";

struct DirectoryEntry {
  std::string name;
  bool directory = false;
  bool hidden = false;
  bool system = false;
  // A junction, symbolic link or mount point: it may lead back up its own tree or to a server.
  bool reparsePoint = false;
};

// The disk and the progress display as the search sees them.
class SearchDisk {
 public:
  virtual ~SearchDisk() = default;
  // Roots ("C:\") of the fixed drives, in the order the system lists its drives.
  virtual std::vector<std::string> FixedDriveRoots() = 0;
  // Entries matching `pattern` (a directory followed by a name or "*"), in the file system's
  // order; empty when nothing matches or the directory cannot be listed.
  virtual std::vector<DirectoryEntry> List(const std::string& pattern) = 0;
  // Shows the directory being searched ("" when the search has ended). `redrawWindow` asks
  // for the whole window to be brought up to date, not only the location line.
  virtual void ShowLocation(const std::string& directory, bool redrawWindow) = 0;
};

// Appends to `queue` every subdirectory of `directory` (which ends with a backslash) that the
// search may enter, each with a trailing backslash; gives how many it appended.
int QueueSubdirectories(SearchDisk& disk, const std::string& directory,
                        std::deque<std::string>& queue);

// Appends the full path of every quorveld.exe on the fixed drives to `found`, drive after
// drive and level by level.
void SearchForServiceProgram(SearchDisk& disk, std::deque<std::string>& found);

}  // namespace quorvel::updater
