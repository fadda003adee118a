#pragma once
// Writing the payloads the updater carries, with retries for files that are briefly in use or
// read-only. Each attempt writes a temporary file beside the target ("quorveld.exe.new") and
// only then swaps it in, so a disk that fills up or a failing write never leaves a target cut
// short. A set of files (the program and its libraries) is written all or nothing: every file
// is staged and the old ones copied aside ("quorveld.exe.old") before the first swap, and an
// interrupted set is put back the next time a set is written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::updater {

inline constexpr int kServicePayload = 130;
inline constexpr int kHighLevelLibraryPayload = 131;
inline constexpr int kLowLevelLibraryPayload = 132;

enum class DirectoryResult { Created, AlreadyExists, Failed };

class PayloadDisk {
 public:
  virtual ~PayloadDisk() = default;
  // True when the payload `id` is in the updater's image.
  virtual bool HasPayload(int id) = 0;
  // Creates one directory level (its parent must exist) with the installation folder's rights
  // (rights.h).
  virtual DirectoryResult MakeDirectory(const std::string& path) = 0;
  // Gives the existing `directory` the installation folder's rights, passed on to the files in
  // it that take theirs from the folder, and makes the administrators its owner where the
  // caller may; false when the rights could not be set.
  virtual bool SecureFolder(const std::string& directory) = 0;
  // Gives the existing file at `path` the program files' rights; false when they could not be
  // set.
  virtual bool SecureProgramFile(const std::string& path) = 0;
  // Creates `path` afresh (no sharing) with the program files' rights, writes payload `id`
  // with one call and commits it to the disk; true only when every byte was written and
  // committed. A file already at `path` is removed first and never reused: a user may have
  // made it and may still hold it open. The file is closed either way.
  virtual bool WritePayload(const std::string& path, int id) = 0;
  // Copies `source` to a `target` created afresh like WritePayload's file, and commits the
  // copy to the disk; true only when the copy is whole on the disk.
  virtual bool CopyCommitted(const std::string& source, const std::string& target) = 0;
  // Puts `source` in the place of `target` in one step, durable once it returns; false leaves
  // both as they were.
  virtual bool Replace(const std::string& source, const std::string& target) = 0;
  // True when a file (not a folder) is at `path`.
  virtual bool Exists(const std::string& path) = 0;
  // True when the file at `path` is owned by the administration (the system account, the
  // administrators or the updater's own account) and no one else may change it: a copy an
  // updater made, not one a user made or could have changed since.
  virtual bool OnlyAdministrationMayChange(const std::string& path) = 0;
  // Deletes `path` if it is there.
  virtual void Remove(const std::string& path) = 0;
  virtual void ClearReadOnly(const std::string& path) = 0;
  virtual void Pause(unsigned milliseconds) = 0;
  // Up to `count` bytes of the file at `path` from `offset` on: fewer at its end, none when it
  // is missing or cannot be read.
  virtual std::string ReadFileBytes(const std::string& path, std::uint32_t offset,
                                    std::size_t count) = 0;
  // The same from payload `id`; none when it is missing from the image.
  virtual std::string ReadPayloadBytes(int id, std::uint32_t offset, std::size_t count) = 0;
};

// One file of a set: `fileName` beside the target, or the target itself when it is null.
struct PayloadFile {
  const char* fileName;
  int id;
};

// The files a complete installation has beside (and as) its program.
extern const std::vector<PayloadFile> kInstallationFiles;

// Writes `files` all or nothing: true when every one of them is in place; on false each file
// is as it was before. An earlier set that was cut short (power loss, a killed updater) is
// first put back to what it was, or finished when only the clean-up was left. The folder gets
// its rights before any file is staged, and the files of the installation left in place get
// the program files' rights before the set counts as written; a drive's root folder is never
// given them, so a target there is refused.
bool WritePayloadSet(PayloadDisk& disk, const std::string& target,
                     const std::vector<PayloadFile>& files);

// Puts back or finishes a set that was cut short in the target's folder, and removes the
// temporary files it left.
void RecoverInterruptedSet(PayloadDisk& disk, const std::string& target);

// True when the file at `path` holds payload `id` byte for byte.
bool FileMatchesPayload(PayloadDisk& disk, const std::string& path, int id);

// True when the target is the program carried and each library beside it is in place and
// built for the program's word size.
bool InstallationIsComplete(PayloadDisk& disk, const std::string& target);

// True when `fileName` in the target's directory is an image built for the same machine (word
// size) as payload `id`; false when it is missing, is no image or is built for another.
bool LibraryMatchesPayload(PayloadDisk& disk, const std::string& target, const char* fileName,
                           int id);

}  // namespace quorvel::updater
