#include "updater/search.h"

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

// The whole window is redrawn only now and then: repainting it for every directory would cost
// more than the search itself.
constexpr int kWindowRedrawInterval = 100;

bool MayEnter(const DirectoryEntry& entry) {
  return entry.directory && !entry.hidden && !entry.system && !entry.reparsePoint &&
         entry.name.rfind('.', 0) != 0;
}

void CollectMatches(SearchDisk& disk, const std::string& directory,
                    std::deque<std::string>& found) {
  for (const DirectoryEntry& entry : disk.List(directory + kServiceProgramName)) {
    // A folder that happens to bear the program's name is nothing to replace.
    if (entry.directory) continue;
    const std::string path = JoinPath(directory, entry.name);
    if (FitsPathLimit(path)) found.push_back(path);
  }
}

}  // namespace

int QueueSubdirectories(SearchDisk& disk, const std::string& directory,
                        std::deque<std::string>& queue) {
  int count = 0;
  for (const DirectoryEntry& entry : disk.List(JoinPath(directory, "*"))) {
    if (!MayEnter(entry)) continue;
    const std::string subdirectory = JoinPath(directory, entry.name) + "\\";
    // A folder whose search pattern would not fit the platform's paths cannot be searched.
    if (!FitsPathLimit(subdirectory + kServiceProgramName)) continue;
    queue.push_back(subdirectory);
    ++count;
  }
  return count;
}

void SearchForServiceProgram(SearchDisk& disk, std::deque<std::string>& found) {
  // One drive after the other, so that every folder of C: comes before any of D:.
  int visited = 0;
  for (const std::string& root : disk.FixedDriveRoots()) {
    std::deque<std::string> queue{root};
    while (!queue.empty()) {
      const std::string directory = queue.front();
      ++visited;
      disk.ShowLocation(directory, visited % kWindowRedrawInterval == 0);
      CollectMatches(disk, directory, found);
      QueueSubdirectories(disk, directory, queue);
      queue.pop_front();
    }
  }
  disk.ShowLocation("", false);
}

}  // namespace quorvel::updater
