#pragma once
// The older counting application's database, named by rcs.ini.
#include "service/platform/file_system.h"
#include "service/platform/profile_store.h"
#include "service/upload/upload_batch.h"

namespace quorvel {

// Adds the batch's hourly totals to the day's records; true when the database was updated.
bool MergeIntoLegacyDatabase(const UploadBatch& batch, ProfileStore& profiles, FileSystem& files);

}  // namespace quorvel
