#pragma once
// HTTP GET over WinINet.
#include <memory>

#include "service/platform/http_client.h"

namespace quorvel {

std::unique_ptr<HttpClient> MakeWinInetHttpClient();

}  // namespace quorvel
