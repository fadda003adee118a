#include <algorithm>

#include "updater/crc32.h"
#include "updater/win32_adapters.h"

namespace quorvel::updater {
namespace {

struct ResourceBytes {
  const void* data = nullptr;
  DWORD size = 0;
};

// A resource of our own image, in place; data is null when it cannot be found or loaded.
ResourceBytes OwnResource(int id, const char* type) {
  HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
  if (!info) return {};
  HGLOBAL loaded = LoadResource(nullptr, info);
  if (!loaded) return {};
  return {LockResource(loaded), SizeofResource(nullptr, info)};
}

// Resource type names match in any letter case; the build stores "EXE" and "CRC32".
constexpr char kPayloadType[] = "EXE";
constexpr char kCheckLineType[] = "crc32";

}  // namespace

std::uint32_t ComputePayloadCrc(int id) {
  const ResourceBytes payload = OwnResource(id, kPayloadType);
  return payload.data ? Crc32(payload.data, payload.size) : 0;
}

std::uint32_t ReadStoredCrc(int id) {
  const ResourceBytes line = OwnResource(id, kCheckLineType);
  return line.data ? ParseCheckLine(static_cast<const char*>(line.data), line.size) : 0;
}

bool ResourcePayloadDisk::HasPayload(int id) {
  return OwnResource(id, kPayloadType).data != nullptr;
}

DirectoryResult ResourcePayloadDisk::MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return DirectoryResult::Created;
  const DWORD error = GetLastError();
  // A drive root gives "access denied" rather than "already exists", yet it is there.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (error == ERROR_ALREADY_EXISTS ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    return DirectoryResult::AlreadyExists;
  }
  return DirectoryResult::Failed;
}

bool ResourcePayloadDisk::WritePayload(const std::string& path, int id) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const ResourceBytes payload = OwnResource(id, kPayloadType);
  DWORD written = 0;
  // Write-through alone does not promise that the file's size and allocation have reached the
  // disk before the swap makes it the program; the flush does.
  const bool whole = payload.data &&
                     WriteFile(file, payload.data, payload.size, &written, nullptr) &&
                     written == payload.size && FlushFileBuffers(file);
  CloseHandle(file);
  return whole;
}

bool ResourcePayloadDisk::CopyCommitted(const std::string& source, const std::string& target) {
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) return false;
  // The copy keeps the original's attributes; a read-only copy could not be removed later.
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool committed = FlushFileBuffers(file) != 0;
  CloseHandle(file);
  return committed;
}

bool ResourcePayloadDisk::Exists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ResourcePayloadDisk::Replace(const std::string& source, const std::string& target) {
  // Fails (target unchanged) while another program holds the target open, or while it is
  // read-only.
  return MoveFileExA(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void ResourcePayloadDisk::Remove(const std::string& path) {
  DeleteFileA(path.c_str());
}

void ResourcePayloadDisk::ClearReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
}

std::string ResourcePayloadDisk::ReadFileBytes(const std::string& path, std::uint32_t offset,
                                               std::size_t count) {
  // A library the service has loaded stays readable; other programs may hold it as they like.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes(count, '\0');
  DWORD read = 0;
  LARGE_INTEGER position;
  position.QuadPart = offset;
  const bool done = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
                    ::ReadFile(file, &bytes[0], static_cast<DWORD>(count), &read, nullptr);
  CloseHandle(file);
  bytes.resize(done ? read : 0);
  return bytes;
}

std::string ResourcePayloadDisk::ReadPayloadBytes(int id, std::uint32_t offset, std::size_t count) {
  const ResourceBytes payload = OwnResource(id, kPayloadType);
  if (!payload.data || offset >= payload.size) return {};
  const char* start = static_cast<const char*>(payload.data) + offset;
  return std::string(start, std::min<std::size_t>(count, payload.size - offset));
}

}  // namespace quorvel::updater
