#pragma once
// The upload request, its reply, and the diagnostic ping.
#include <string>

#include "service/settings/settings.h"
#include "service/platform/platform.h"
#include "service/store/local_store.h"
#include "service/upload/upload_batch.h"

namespace quorvel {

// Sends the batch and returns the result code: 200 accepted, 201 logged as success without
// trimming, anything else a failure (0 when no status was obtained). Sets clockSyncPending
// when the reply's clock mark agrees with the PC's local time.
int SubmitBatch(const UploadBatch& batch, const Settings& settings, Platform& platform,
                LocalStore& store, bool& clockSyncPending);

// One "ping?<version>" request; true when the status is 200 to 202. Interactive mode shows
// the trace message boxes and the failure text.
bool PingServer(bool interactive, const Settings& settings, Platform& platform);

}  // namespace quorvel
