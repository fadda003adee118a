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
