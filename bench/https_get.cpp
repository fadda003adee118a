// Times the upload's request through the service's own WinINet client: each call opens its
// session, connection and request and closes them again, as every upload does. WinINet may
// still keep the connection underneath for the next call when the server allows it, so the
// first request (with its TLS handshake) is reported apart. Run by bench/https_upload.py.
//
//   https_get <host> <port> <0 plain|1 secure> <requests>
//
// Prints "<first ms> <median ms> <mean ms> <failures>".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "service/platform/win32/wininet_http_client.h"

namespace {

// An upload's object (one box-day, as the service sends it with Encrypt=0).
constexpr const char* kUploadObject =
    "/submitr?0123456789abcd20070122Z0Z0Z0Z0Z0Z0Z0Y0dE024Z0Z0Z0Z0Z0X0";

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: https_get <host> <port> <0|1> <requests>\n");
    return 2;
  }
  quorvel::HttpRequest request;
  request.host = argv[1];
  request.port = static_cast<std::uint16_t>(std::atoi(argv[2]));
  request.secure = std::atoi(argv[3]) == 1;
  request.object = kUploadObject;
  const int count = std::max(1, std::atoi(argv[4]));

  const auto client = quorvel::MakeWinInetHttpClient();
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const quorvel::HttpResponse response = client->Get(request, nullptr);
    QueryPerformanceCounter(&end);
    if (response.outcome != quorvel::HttpResponse::Outcome::Received || response.status != 200) {
      ++failures;
      continue;
    }
    times.push_back(Milliseconds(start, end, frequency));
  }
  if (times.empty()) {
    std::printf("0 0 0 %d\n", failures);
    return 1;
  }
  const double first = times.front();
  std::sort(times.begin(), times.end());
  const double mean = std::accumulate(times.begin(), times.end(), 0.0) / times.size();
  std::printf("%.2f %.2f %.2f %d\n", first, times[times.size() / 2], mean, failures);
  return 0;
}
