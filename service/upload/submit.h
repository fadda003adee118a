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
// when the reply's clock mark agrees with the PC's local time. `secureFailure` tells why an
// HTTPS request failed on its certificate or handshake, and is None otherwise.
int SubmitBatch(const UploadBatch& batch, const Settings& settings, Platform& platform,
                LocalStore& store, bool& clockSyncPending, SecureFailure& secureFailure);

// The log line that follows a failed upload's result line and names the reason; empty for
// None, so that a plain upload never logs more than before.
std::string SecureFailureLogLine(SecureFailure failure);

// One "ping?<version>" request; true when the status is 200 to 202. Interactive mode shows
// the trace message boxes and the failure text.
bool PingServer(bool interactive, const Settings& settings, Platform& platform);

}  // namespace quorvel
