#pragma once
// Who may do what in the installation folder, as data. The folder and the programs the updater
// writes there belong to the administrators; every user may run the programs, and may create
// and change the data files the service keeps beside them (its default LocalDir), but may not
// write, rename, replace or delete the programs, nor change any rights or owner.
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::updater {

// Access bits of files and folders, as the system numbers them.
namespace access {
inline constexpr std::uint32_t kReadData = 0x1;       // a folder: list it
inline constexpr std::uint32_t kWriteData = 0x2;      // a folder: create files in it
inline constexpr std::uint32_t kAppendData = 0x4;     // a folder: create subfolders in it
inline constexpr std::uint32_t kReadExtended = 0x8;
inline constexpr std::uint32_t kWriteExtended = 0x10;
inline constexpr std::uint32_t kExecute = 0x20;       // a folder: pass through it
inline constexpr std::uint32_t kDeleteChild = 0x40;   // a folder: delete or rename any file in it
inline constexpr std::uint32_t kReadAttributes = 0x80;
inline constexpr std::uint32_t kWriteAttributes = 0x100;
inline constexpr std::uint32_t kDelete = 0x10000;     // delete or rename the object itself
inline constexpr std::uint32_t kReadControl = 0x20000;
inline constexpr std::uint32_t kWriteDac = 0x40000;
inline constexpr std::uint32_t kWriteOwner = 0x80000;
inline constexpr std::uint32_t kSynchronize = 0x100000;

inline constexpr std::uint32_t kReadAndExecute = kReadData | kReadExtended | kExecute |
                                                 kReadAttributes | kReadControl | kSynchronize;
inline constexpr std::uint32_t kModify = kReadAndExecute | kWriteData | kAppendData |
                                         kWriteExtended | kWriteAttributes | kDelete;
inline constexpr std::uint32_t kFullControl = kModify | kDeleteChild | kWriteDac | kWriteOwner;
}  // namespace access

// How an entry of a folder reaches what is created in it.
namespace inherit {
inline constexpr unsigned kNone = 0;
inline constexpr unsigned kToFiles = 0x1;
inline constexpr unsigned kToFolders = 0x2;
inline constexpr unsigned kOnlyToChildren = 0x8;  // not the folder itself
}  // namespace inherit

// Accounts by their SDDL names.
inline constexpr char kSystem[] = "SY";
inline constexpr char kAdministrators[] = "BA";
inline constexpr char kUsers[] = "BU";

struct AccessEntry {
  const char* account;
  std::uint32_t access;
  unsigned inheritance;
};

struct Rights {
  // The owner set where the caller may; none keeps the creator.
  const char* owner;
  // Nothing is taken from the parent folder.
  bool protectedFromParent;
  std::vector<AccessEntry> allowed;
};

// The program's folder, passed on to the files in it.
Rights InstallationFolderRights();
// Each program and library the updater writes, and its temporary copies.
Rights ProgramFileRights();

// The access list (and protection) of `rights` in SDDL, without the owner:
// "D:P(A;OICI;0x1f01ff;;;SY)...".
std::string AccessListSddl(const Rights& rights);

}  // namespace quorvel::updater
