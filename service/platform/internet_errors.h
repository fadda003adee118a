#pragma once
// WinINet's error numbers for failed secure connections, and what each means to us. Kept free
// of the platform headers so that the mapping is tested natively.
#include "service/platform/http_client.h"

namespace quorvel {

// The reason behind a WinINet error of a secure request; None for errors that have nothing
// to do with certificates or TLS (refused, time-out, name not resolved ...).
SecureFailure SecureFailureFromInternetError(unsigned long error);

}  // namespace quorvel
