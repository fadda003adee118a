#include "updater/payload.h"

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

// A program that is just ending, or a virus scanner, may hold the file for a moment.
constexpr int kWriteAttempts = 4;
constexpr unsigned kPauseBetweenAttempts = 500;

// One attempt: the whole payload into the temporary file, then the swap. A read-only or
// held-open target makes the swap fail; a full disk makes the write fail.
bool TryWrite(PayloadDisk& disk, const std::string& path, const std::string& temporary, int id) {
  if (disk.WritePayload(temporary, id) && disk.Replace(temporary, path)) return true;
  disk.Remove(temporary);
  return false;
}

// Same folder as the target, so that the swap stays on one volume.
std::string TemporaryPathFor(const std::string& path) {
  return path + ".new";
}

}  // namespace

bool WritePayloadFile(PayloadDisk& disk, const std::string& target, const char* fileName, int id) {
  // A payload missing from the image can never be written: no attempts, no pauses.
  if (!disk.HasPayload(id)) return false;
  const std::string directory = DirectoryOf(target);
  const std::string path = fileName ? directory + fileName : target;
  const std::string temporary = TemporaryPathFor(path);
  if (!FitsPathLimit(temporary)) return false;
  if (disk.MakeDirectory(directory) == DirectoryResult::Failed) return false;
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (TryWrite(disk, path, temporary, id)) return true;
    disk.ClearReadOnly(path);
    disk.Pause(kPauseBetweenAttempts);
  }
  return false;
}

}  // namespace quorvel::updater
