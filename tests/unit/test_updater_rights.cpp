// The rights the updater gives the installation folder and the programs in it.
#include <doctest.h>

#include <cstdint>
#include <string>

#include "updater/rights.h"

using namespace quorvel::updater;

namespace {

enum class Reach { Itself, NewFiles, NewFolders };

bool Reaches(const AccessEntry& entry, Reach reach) {
  switch (reach) {
    case Reach::Itself:
      return !(entry.inheritance & inherit::kOnlyToChildren);
    case Reach::NewFiles:
      return entry.inheritance & inherit::kToFiles;
    case Reach::NewFolders:
      return entry.inheritance & inherit::kToFolders;
  }
  return false;
}

// What `account` is allowed on what the rights reach.
std::uint32_t Allowed(const Rights& rights, const std::string& account, Reach reach) {
  std::uint32_t mask = 0;
  for (const AccessEntry& entry : rights.allowed) {
    if (entry.account == account && Reaches(entry, reach)) mask |= entry.access;
  }
  return mask;
}

// Accounts other than the system and the administrators.
bool OnlyAdministrationHasEntries(const Rights& rights, const std::string& besides) {
  for (const AccessEntry& entry : rights.allowed) {
    const std::string account = entry.account;
    if (account != kSystem && account != kAdministrators && account != besides) return false;
  }
  return true;
}

constexpr std::uint32_t kChangesTheObject =
    access::kWriteData | access::kAppendData | access::kWriteExtended |
    access::kWriteAttributes | access::kDelete | access::kWriteDac | access::kWriteOwner;

}  // namespace

TEST_CASE("the installation folder") {
  const Rights folder = InstallationFolderRights();
  CHECK(folder.protectedFromParent);
  CHECK(std::string(folder.owner) == kAdministrators);
  CHECK(OnlyAdministrationHasEntries(folder, kUsers));
  SUBCASE("the system and the administrators have everything, everywhere below") {
    for (const char* account : {kSystem, kAdministrators}) {
      for (Reach reach : {Reach::Itself, Reach::NewFiles, Reach::NewFolders}) {
        CHECK(Allowed(folder, account, reach) == access::kFullControl);
      }
    }
  }
  SUBCASE("users list it, run from it and create files in it, and nothing else") {
    const std::uint32_t users = Allowed(folder, kUsers, Reach::Itself);
    CHECK((users & access::kReadAndExecute) == access::kReadAndExecute);
    CHECK((users & access::kWriteData) != 0);  // a new file
    CHECK((users & (access::kAppendData | access::kDeleteChild | access::kDelete |
                    access::kWriteAttributes | access::kWriteExtended | access::kWriteDac |
                    access::kWriteOwner)) == 0);
  }
  SUBCASE("every file created in it may be changed, replaced and deleted by every user") {
    const std::uint32_t users = Allowed(folder, kUsers, Reach::NewFiles);
    CHECK(users == access::kModify);
    CHECK((users & (access::kWriteDac | access::kWriteOwner)) == 0);
  }
  SUBCASE("users get nothing in a subfolder an administrator makes") {
    CHECK(Allowed(folder, kUsers, Reach::NewFolders) == 0);
  }
}

TEST_CASE("a program file: run by every user, changed only by the administration") {
  const Rights program = ProgramFileRights();
  CHECK(program.protectedFromParent);
  CHECK(OnlyAdministrationHasEntries(program, kUsers));
  CHECK(Allowed(program, kUsers, Reach::Itself) == access::kReadAndExecute);
  CHECK((Allowed(program, kUsers, Reach::Itself) & kChangesTheObject) == 0);
  CHECK(Allowed(program, kSystem, Reach::Itself) == access::kFullControl);
  CHECK(Allowed(program, kAdministrators, Reach::Itself) == access::kFullControl);
}

TEST_CASE("rights in SDDL, as the system converts them") {
  CHECK(AccessListSddl(ProgramFileRights()) ==
        "D:P(A;;0x1f01ff;;;SY)(A;;0x1f01ff;;;BA)(A;;0x1200a9;;;BU)");
  CHECK(AccessListSddl(InstallationFolderRights()) ==
        "D:P(A;OICI;0x1f01ff;;;SY)(A;OICI;0x1f01ff;;;BA)(A;;0x1200ab;;;BU)"
        "(A;OIIO;0x1301bf;;;BU)");
  CHECK(AccessListSddl({nullptr, false, {{kUsers, access::kDelete, inherit::kToFolders}}}) ==
        "D:(A;CI;0x10000;;;BU)");
}
