#pragma once
// Writing the payloads the updater carries, with retries for files that are briefly in use or
// read-only. Each attempt writes a temporary file beside the target ("quorveld.exe.new") and
// only then swaps it in, so a disk that fills up or a failing write never leaves a target cut
// short.
#include <cstddef>
#include <cstdint>
#include <string>

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
  // Creates one directory level (its parent must exist).
  virtual DirectoryResult MakeDirectory(const std::string& path) = 0;
  // Creates or truncates `path` (no sharing), writes payload `id` with one call and commits it
  // to the disk; true only when every byte was written and committed. The file is closed
  // either way.
  virtual bool WritePayload(const std::string& path, int id) = 0;
  // Puts `source` in the place of `target` in one step; false leaves both as they were.
  virtual bool Replace(const std::string& source, const std::string& target) = 0;
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

// Writes payload `id` to `target`, or to `fileName` in the target's directory when one is
// given; creates that directory (one level) if needed. True when the file was written whole;
// on false the file is as it was before and no temporary file is left.
bool WritePayloadFile(PayloadDisk& disk, const std::string& target, const char* fileName, int id);

// True when `fileName` in the target's directory is an image built for the same machine (word
// size) as payload `id`; false when it is missing, is no image or is built for another.
bool LibraryMatchesPayload(PayloadDisk& disk, const std::string& target, const char* fileName,
                           int id);

}  // namespace quorvel::updater
