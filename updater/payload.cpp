#include "updater/payload.h"

#include "updater/paths.h"

namespace quorvel::updater {
namespace {

// A program that is just ending, or a virus scanner, may hold the file for a moment.
constexpr int kWriteAttempts = 4;
constexpr unsigned kPauseBetweenAttempts = 500;

// Same folder as the target, so that every swap stays on one volume.
std::string StagedPathFor(const std::string& path) {
  return path + ".new";
}
std::string BackupPathFor(const std::string& path) {
  return path + ".old";
}

std::string PathOf(const std::string& target, const char* fileName) {
  return fileName ? DirectoryOf(target) + fileName : target;
}

std::vector<std::string> PathsOf(const std::string& target, const std::vector<PayloadFile>& files) {
  std::vector<std::string> paths;
  for (const PayloadFile& file : files) paths.push_back(PathOf(target, file.fileName));
  return paths;
}

// Runs `step` until it succeeds, at most kWriteAttempts times; `afterFailure` runs after each
// failed attempt, followed by the pause.
template <typename Step, typename AfterFailure>
bool WithAttempts(PayloadDisk& disk, Step step, AfterFailure afterFailure) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    if (step()) return true;
    afterFailure();
    disk.Pause(kPauseBetweenAttempts);
  }
  return false;
}

// Copies every existing file aside, then writes every new one beside it. All copies come before
// the first new file, so a cut-short copy is never taken for a good one (see RecoverFiles).
bool StageFiles(PayloadDisk& disk, const std::vector<std::string>& paths,
                const std::vector<PayloadFile>& files) {
  for (const std::string& path : paths) {
    if (!disk.Exists(path)) continue;
    const std::string backup = BackupPathFor(path);
    if (!WithAttempts(
            disk, [&] { return disk.CopyCommitted(path, backup); }, [&] { disk.Remove(backup); })) {
      return false;
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string staged = StagedPathFor(paths[i]);
    // A full disk makes the write fail; the next attempt starts afresh.
    if (!WithAttempts(
            disk, [&] { return disk.WritePayload(staged, files[i].id); },
            [&] { disk.Remove(staged); })) {
      return false;
    }
  }
  return true;
}

// A read-only or held-open file refuses to be replaced. Gives how many were swapped, in order.
std::size_t SwapFiles(PayloadDisk& disk, const std::vector<std::string>& paths) {
  std::size_t swapped = 0;
  for (const std::string& path : paths) {
    if (!WithAttempts(
            disk, [&] { return disk.Replace(StagedPathFor(path), path); },
            [&] { disk.ClearReadOnly(path); })) {
      break;
    }
    ++swapped;
  }
  return swapped;
}

void RemoveTemporaries(PayloadDisk& disk, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    disk.Remove(StagedPathFor(path));
    disk.Remove(BackupPathFor(path));
  }
}

// Where the copies ("quorveld.exe.old") come from.
enum class Copies {
  ThisRun,      // made by this run with the programs' rights: nobody else may have changed them
  EarlierRun,   // found in the folder, where users may create files too
};

// Users may create files in the folder: a copy found there is put back only when it is the
// administration's own.
bool MayPutBack(PayloadDisk& disk, const std::string& backup, Copies copies) {
  return disk.Exists(backup) &&
         (copies == Copies::ThisRun || disk.OnlyAdministrationMayChange(backup));
}

// Puts the old files of the first `swapped` paths back and removes every temporary file. When
// an old file cannot be put back, every temporary file stays: the next run sees an unfinished
// set and rolls it back again. A copy that may not be put back is removed with the rest.
void RollBack(PayloadDisk& disk, const std::vector<std::string>& paths, std::size_t swapped,
              Copies copies) {
  bool allBack = true;
  for (std::size_t i = 0; i < swapped; ++i) {
    const std::string backup = BackupPathFor(paths[i]);
    if (MayPutBack(disk, backup, copies) && !disk.Replace(backup, paths[i])) allBack = false;
  }
  if (allBack) RemoveTemporaries(disk, paths);
}

// A staged file left over means the swaps had not all been made: the set is rolled back (the
// old files were all copied aside before the first staged file was written). Without one, the
// swaps were done or never begun, and only the copies are left to remove.
void RecoverFiles(PayloadDisk& disk, const std::vector<std::string>& paths) {
  bool staged = false;
  for (const std::string& path : paths) staged = staged || disk.Exists(StagedPathFor(path));
  if (staged) {
    // Which swaps were made is not known; putting back an old file that was never swapped out
    // changes nothing.
    RollBack(disk, paths, paths.size(), Copies::EarlierRun);
    return;
  }
  for (const std::string& path : paths) {
    if (disk.Exists(BackupPathFor(path))) disk.Remove(BackupPathFor(path));
  }
}

// The installation files of `target` that `files` leaves in place: an earlier updater wrote
// them with the rights they took from the folder.
std::vector<std::string> FilesLeftInPlace(PayloadDisk& disk, const std::string& target,
                                          const std::vector<std::string>& written) {
  std::vector<std::string> left;
  for (const std::string& path : PathsOf(target, kInstallationFiles)) {
    bool isWritten = false;
    for (const std::string& other : written) isWritten = isWritten || other == path;
    if (!isWritten && disk.Exists(path)) left.push_back(path);
  }
  return left;
}

bool SecureFilesLeftInPlace(PayloadDisk& disk, const std::string& target,
                            const std::vector<std::string>& written) {
  for (const std::string& path : FilesLeftInPlace(disk, target, written)) {
    if (!disk.SecureProgramFile(path)) return false;
  }
  return true;
}

// A program in a drive's root, or with no folder at all: the rights of its folder would reach
// everything on the drive.
bool InDriveRoot(const std::string& target) {
  return SplitPath(target).directory.size() <= 1;
}

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

constexpr std::uint32_t kImageHeadersOffsetAt = 0x3C;
const std::string kImageSignature("PE\0\0", 4);

// The machine field of an image: after the signature of the image headers, which start where
// the 32-bit value at 0x3C says. 0 for a file that is none (or is missing).
template <typename ReadBytes>
std::uint16_t ImageMachine(ReadBytes read) {
  const std::string start = read(0, kImageHeadersOffsetAt + 4);
  if (start.size() < kImageHeadersOffsetAt + 4 || start.compare(0, 2, "MZ") != 0) return 0;
  const std::uint32_t headers = LittleEndian(start, kImageHeadersOffsetAt, 4);
  const std::string head = read(headers, kImageSignature.size() + 2);
  if (head.size() < kImageSignature.size() + 2 ||
      head.compare(0, kImageSignature.size(), kImageSignature) != 0) {
    return 0;
  }
  return static_cast<std::uint16_t>(LittleEndian(head, kImageSignature.size(), 2));
}

}  // namespace

const std::vector<PayloadFile> kInstallationFiles = {
    {nullptr, kServicePayload},
    {"CDRVHF32.DLL", kHighLevelLibraryPayload},
    {"CDRVDL32.DLL", kLowLevelLibraryPayload},
};

void RecoverInterruptedSet(PayloadDisk& disk, const std::string& target) {
  RecoverFiles(disk, PathsOf(target, kInstallationFiles));
}

bool WritePayloadSet(PayloadDisk& disk, const std::string& target,
                     const std::vector<PayloadFile>& files) {
  const std::vector<std::string> paths = PathsOf(target, files);
  for (std::size_t i = 0; i < files.size(); ++i) {
    // A payload missing from the image can never be written: no attempts, no pauses.
    if (!disk.HasPayload(files[i].id)) return false;
    if (!FitsPathLimit(StagedPathFor(paths[i]))) return false;
  }
  if (InDriveRoot(target)) return false;
  const std::string directory = DirectoryOf(target);
  if (disk.MakeDirectory(directory) == DirectoryResult::Failed) return false;
  RecoverInterruptedSet(disk, target);
  if (!disk.SecureFolder(directory)) return false;
  if (!StageFiles(disk, paths, files)) {
    RemoveTemporaries(disk, paths);
    return false;
  }
  const std::size_t swapped = SwapFiles(disk, paths);
  if (swapped < paths.size()) {
    RollBack(disk, paths, swapped, Copies::ThisRun);
    return false;
  }
  if (!SecureFilesLeftInPlace(disk, target, paths)) {
    RollBack(disk, paths, paths.size(), Copies::ThisRun);
    return false;
  }
  for (const std::string& path : paths) disk.Remove(BackupPathFor(path));
  return true;
}

bool FileMatchesPayload(PayloadDisk& disk, const std::string& path, int id) {
  constexpr std::size_t kChunk = 64 * 1024;
  for (std::uint32_t offset = 0;; offset += kChunk) {
    const std::string expected = disk.ReadPayloadBytes(id, offset, kChunk);
    if (disk.ReadFileBytes(path, offset, kChunk) != expected) return false;
    if (expected.size() < kChunk) return offset > 0 || !expected.empty();
  }
}

bool InstallationIsComplete(PayloadDisk& disk, const std::string& target) {
  if (!FileMatchesPayload(disk, target, kServicePayload)) return false;
  for (const PayloadFile& file : kInstallationFiles) {
    if (file.fileName && !LibraryMatchesPayload(disk, target, file.fileName, file.id)) {
      return false;
    }
  }
  return true;
}

bool LibraryMatchesPayload(PayloadDisk& disk, const std::string& target, const char* fileName,
                           int id) {
  const std::string path = DirectoryOf(target) + fileName;
  const std::uint16_t library = ImageMachine([&](std::uint32_t offset, std::size_t count) {
    return disk.ReadFileBytes(path, offset, count);
  });
  const std::uint16_t payload = ImageMachine([&](std::uint32_t offset, std::size_t count) {
    return disk.ReadPayloadBytes(id, offset, count);
  });
  return library != 0 && library == payload;
}

}  // namespace quorvel::updater
