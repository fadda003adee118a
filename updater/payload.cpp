#include "updater/payload.h"

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

// A program that is just ending, or a virus scanner, may hold the file for a moment.
constexpr int kWriteAttempts = 4;
constexpr unsigned kPauseBetweenAttempts = 500;

}  // namespace

bool WritePayloadFile(PayloadDisk& disk, const std::string& target, const char* fileName, int id) {
  // Opening the file truncates it, so a payload missing from the image must stop us before.
  if (!disk.HasPayload(id)) return false;
  const std::string directory = DirectoryOf(target);
  const std::string path = fileName ? directory + fileName : target;
  if (!FitsPathLimit(path)) return false;
  if (disk.MakeDirectory(directory) == DirectoryResult::Failed) return false;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (disk.WritePayload(path, id)) return true;
    disk.ClearReadOnly(path);
    disk.Pause(kPauseBetweenAttempts);
  }
  return false;
}

}  // namespace quorvel::updater
