#include "updater/rights.h"

#include <cstdio>

namespace quorvel::updater {
namespace {

std::string InheritanceSddl(unsigned inheritance) {
  std::string flags;
  if (inheritance & inherit::kToFiles) flags += "OI";
  if (inheritance & inherit::kToFolders) flags += "CI";
  if (inheritance & inherit::kOnlyToChildren) flags += "IO";
  return flags;
}

std::string EntrySddl(const AccessEntry& entry) {
  char mask[16];
  std::snprintf(mask, sizeof(mask), "0x%lx", static_cast<unsigned long>(entry.access));
  return "(A;" + InheritanceSddl(entry.inheritance) + ";" + mask + ";;;" + entry.account + ")";
}

}  // namespace

Rights InstallationFolderRights() {
  constexpr unsigned kEverywhere = inherit::kToFiles | inherit::kToFolders;
  return {kAdministrators,
          true,
          {{kSystem, access::kFullControl, kEverywhere},
           {kAdministrators, access::kFullControl, kEverywhere},
           // The folder itself: look, run and create files; nothing that removes or renames
           // a file of someone else's, no subfolders.
           {kUsers, access::kReadAndExecute | access::kWriteData, inherit::kNone},
           // Every file created in it, by whichever user: the service's data files stay
           // writable and replaceable by the next user too. The programs have rights of their
           // own instead.
           {kUsers, access::kModify, inherit::kToFiles | inherit::kOnlyToChildren}}};
}

Rights ProgramFileRights() {
  return {nullptr,
          true,
          {{kSystem, access::kFullControl, inherit::kNone},
           {kAdministrators, access::kFullControl, inherit::kNone},
           {kUsers, access::kReadAndExecute, inherit::kNone}}};
}

std::string AccessListSddl(const Rights& rights) {
  std::string sddl = rights.protectedFromParent ? "D:P" : "D:";
  for (const AccessEntry& entry : rights.allowed) sddl += EntrySddl(entry);
  return sddl;
}

}  // namespace quorvel::updater
