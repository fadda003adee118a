#pragma once
// The older counting application's database, named by rcs.ini. Its layout belongs to that
// application: a 16-byte header whose first two bytes count the 8-byte hour records after it.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "service/platform/file_system.h"
#include "service/platform/profile_store.h"
#include "service/upload/upload_batch.h"

namespace quorvel {

// Bytes at an offset of a file.
struct ByteRun {
  std::int64_t offset = 0;
  std::string bytes;
};

// What merging one batch does to the database: the runs it writes, and for undoing it the
// bytes those runs overwrite and the file's length before.
struct LegacyMergePlan {
  std::int64_t originalLength = 0;
  std::vector<ByteRun> writes;
  std::vector<ByteRun> originals;
};

// The database path rcs.ini names; empty when it names none.
std::string LegacyDatabasePath(ProfileStore& profiles);

// Marks the database as in use by this program, as the other application expects: "Port"
// in rcs.ini is 668 afterwards. rcs.ini is the other application's, and the profile functions
// rewrite a file in place (emptied, then written out): a kill or a power cut in between would
// leave it empty, that application's settings and the database's name lost. So the entry is
// written only when it is not 668 already, and only while a committed copy of the file stands
// at `copyPath`; the copy goes once the rewritten file is on the disk. A write that fails
// puts the file back as the copy has it. Nothing when the entry stands; else the file that
// could not be written (the copy, or rcs.ini) and the system's reason.
std::optional<WriteFailure> NoteLegacyDatabaseUse(ProfileStore& profiles, FileSystem& files,
                                                  const std::string& copyPath);

// A copy still at `copyPath` means the rewrite was cut off: puts rcs.ini back as the copy
// has it (the next merge writes "Port" again). Before anything reads rcs.ini in a run.
void RestoreLegacyProfile(ProfileStore& profiles, FileSystem& files, const std::string& copyPath);

// True when the batch carries a date the database can file it under.
bool HasLegacyDate(const UploadBatch& batch);

// Works out how the batch's hourly totals are added to the day's records of the open
// `database`; nothing when the batch has no usable date or the file no trustworthy header.
std::optional<LegacyMergePlan> PlanLegacyMerge(const UploadBatch& batch, std::FILE* database);

// Writes each run at its offset; true when all were written.
bool WriteRuns(std::FILE* file, const std::vector<ByteRun>& runs);

// The whole merge in place, with nothing to undo it: opens the database rcs.ini names, marks
// it in use (without a copy of rcs.ini), writes the plan and commits; true when the database
// was updated.
bool MergeIntoLegacyDatabase(const UploadBatch& batch, ProfileStore& profiles, FileSystem& files);

}  // namespace quorvel
