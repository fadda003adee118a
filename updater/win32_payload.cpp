#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

#include "updater/crc32.h"
#include "updater/rights.h"
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

// A security descriptor made from SDDL text; empty when the text was refused.
class SecurityDescriptor {
 public:
  explicit SecurityDescriptor(const std::string& sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
      descriptor_ = nullptr;
    }
  }
  ~SecurityDescriptor() { LocalFree(descriptor_); }
  SecurityDescriptor(const SecurityDescriptor&) = delete;
  SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;

  // For CreateFile and CreateDirectory; null when the text was refused.
  SECURITY_ATTRIBUTES* Attributes() {
    attributes_ = {sizeof(attributes_), descriptor_, FALSE};
    return descriptor_ ? &attributes_ : nullptr;
  }
  PACL AccessList() const {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!descriptor_ ||
        !GetSecurityDescriptorDacl(descriptor_, &present, &list, &defaulted) || !present) {
      return nullptr;
    }
    return list;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Replaces the access list of the file or folder at `path` with the protected one of
// `rights`. Through the named function, a folder's new list reaches the files in it that take
// theirs from it.
bool SetAccessList(const std::string& path, const Rights& rights) {
  SecurityDescriptor descriptor(AccessListSddl(rights));
  PACL list = descriptor.AccessList();
  if (!list) return false;
  std::string name = path;  // the function takes a writable text
  return SetNamedSecurityInfoA(&name[0], SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
}

// Only a member of that group (or a holder of the restore privilege) may; a failure keeps the
// creator as the owner.
void TrySetOwner(const std::string& path, const char* account) {
  PSID owner = nullptr;
  if (!ConvertStringSidToSidA(account, &owner)) return;
  std::string name = path;
  SetNamedSecurityInfoA(&name[0], SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, owner, nullptr,
                        nullptr, nullptr);
  LocalFree(owner);
}

// "C:\quorvl\" names the folder for the creation functions; the security functions open it
// by "C:\quorvl".
std::string WithoutTrailingSeparator(const std::string& directory) {
  if (directory.size() > 3 && (directory.back() == '\\' || directory.back() == '/')) {
    return directory.substr(0, directory.size() - 1);
  }
  return directory;
}

// A new file at `path` with the program files' rights from its first moment, open for
// writing with no sharing. Whatever was at `path` is removed first, read-only or not: a file
// someone else made keeps its own rights when it is opened again, and its maker may still hold
// it open.
HANDLE CreateProgramFile(const std::string& path, DWORD flags) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  SecurityDescriptor descriptor(AccessListSddl(ProgramFileRights()));
  SECURITY_ATTRIBUTES* attributes = descriptor.Attributes();
  if (!attributes) return INVALID_HANDLE_VALUE;
  return CreateFileA(path.c_str(), GENERIC_WRITE, 0, attributes, CREATE_NEW, flags, nullptr);
}

// The accounts of the administration: the system account, the administrators and the account
// the updater runs as (which the manifest makes an administrator).
class Administration {
 public:
  Administration() {
    ConvertStringSidToSidA(kSystem, &system_);
    ConvertStringSidToSidA(kAdministrators, &administrators_);
    HANDLE token = nullptr;
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      GetTokenInformation(token, TokenUser, nullptr, 0, &size);
      user_.resize(size);
      if (size && !GetTokenInformation(token, TokenUser, user_.data(), size, &size)) {
        user_.clear();
      }
      CloseHandle(token);
    }
  }
  ~Administration() {
    LocalFree(system_);
    LocalFree(administrators_);
  }
  Administration(const Administration&) = delete;
  Administration& operator=(const Administration&) = delete;

  bool Includes(PSID account) const {
    if (!account || !IsValidSid(account)) return false;
    if ((system_ && EqualSid(account, system_)) ||
        (administrators_ && EqualSid(account, administrators_))) {
      return true;
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(user_.data());
    return !user_.empty() && EqualSid(account, user->User.Sid);
  }

 private:
  PSID system_ = nullptr;
  PSID administrators_ = nullptr;
  std::vector<BYTE> user_;
};

// Rights that change a file's content, its rights or its owner.
constexpr ACCESS_MASK kChanges =
    FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// True when every entry that allows changes names the administration. A missing list allows
// everyone everything; an entry of a kind not known here counts as allowing.
bool OnlyAdministrationAllowedChanges(const Administration& administration, PACL list) {
  if (!list) return false;
  for (WORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(list, i, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kChanges) &&
        !administration.Includes(const_cast<DWORD*>(&allowed->SidStart))) {
      return false;
    }
  }
  return true;
}

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
  SecurityDescriptor descriptor(AccessListSddl(InstallationFolderRights()));
  SECURITY_ATTRIBUTES* security = descriptor.Attributes();
  if (!security) return DirectoryResult::Failed;
  if (CreateDirectoryA(path.c_str(), security)) return DirectoryResult::Created;
  const DWORD error = GetLastError();
  // A drive root gives "access denied" rather than "already exists", yet it is there.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (error == ERROR_ALREADY_EXISTS ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))) {
    return DirectoryResult::AlreadyExists;
  }
  return DirectoryResult::Failed;
}

bool ResourcePayloadDisk::SecureFolder(const std::string& directory) {
  const std::string folder = WithoutTrailingSeparator(directory);
  const Rights rights = InstallationFolderRights();
  if (!SetAccessList(folder, rights)) return false;
  TrySetOwner(folder, rights.owner);
  return true;
}

bool ResourcePayloadDisk::SecureProgramFile(const std::string& path) {
  return SetAccessList(path, ProgramFileRights());
}

bool ResourcePayloadDisk::WritePayload(const std::string& path, int id) {
  HANDLE file = CreateProgramFile(path, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
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
  HANDLE from = CreateFileA(source.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (from == INVALID_HANDLE_VALUE) return false;
  // A plain file, whatever the original's attributes: a read-only copy could not be removed.
  HANDLE to = CreateProgramFile(target, FILE_ATTRIBUTE_NORMAL);
  bool whole = to != INVALID_HANDLE_VALUE;
  static char buffer[64 * 1024];
  for (DWORD read = 0; whole;) {
    whole = ::ReadFile(from, buffer, sizeof(buffer), &read, nullptr) != 0;
    if (!whole || read == 0) break;
    DWORD written = 0;
    whole = WriteFile(to, buffer, read, &written, nullptr) && written == read;
  }
  // The copy keeps the original's time of last change, as the system's copy would.
  FILETIME created, accessed, changed;
  if (whole && GetFileTime(from, &created, &accessed, &changed)) {
    SetFileTime(to, nullptr, nullptr, &changed);
  }
  whole = whole && FlushFileBuffers(to);
  if (to != INVALID_HANDLE_VALUE) CloseHandle(to);
  CloseHandle(from);
  return whole;
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

bool ResourcePayloadDisk::OnlyAdministrationMayChange(const std::string& path) {
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::string name = path;
  if (GetNamedSecurityInfoA(&name[0], SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const Administration administration;
  const bool only = administration.Includes(owner) &&
                    OnlyAdministrationAllowedChanges(administration, list);
  LocalFree(descriptor);
  return only;
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
