#pragma once
// One HTTP GET to the collection server.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quorvel {

struct HttpRequest {
  std::string host;
  std::uint16_t port = 80;
  std::string object;       // path and query as sent, e.g. "/submitr?..." or "ping?1.0.4.1"
  bool direct = true;       // true: connect directly; false: the system's proxy configuration
  bool diagnostic = false;  // true: the diagnostic's request flags; false: the upload's
  bool secure = false;      // true: HTTPS, with the platform's certificate checks
};

// Why a secure request failed when the certificate or the TLS handshake was the cause.
enum class SecureFailure {
  None,             // not secure, succeeded, or failed for another reason (refused, time-out)
  UntrustedIssuer,  // the certificate's chain ends at an authority the system does not trust
  Expired,          // the certificate is outside its validity dates
  NameMismatch,     // the certificate is for another name than the server's
  HandshakeFailed,  // any other certificate or TLS negotiation failure
};

// The most of a reply body that is read: far more than any real reply. A longer body is cut
// there and reported as not complete.
constexpr std::size_t kReplyBodyLimit = 64 * 1024;

struct HttpResponse {
  enum class Outcome {
    OpenFailed,  // session, connection or request could not be opened; nothing was sent
    SendFailed,  // sending or waiting for the status failed (refused, time-out, reset)
    Received,    // a status arrived; `body` holds what could be read of the reply
  };
  Outcome outcome = Outcome::OpenFailed;
  int status = 0;           // HTTP status when Received, else 0
  std::string body;         // reply body (possibly cut short, see bodyComplete)
  bool bodyComplete = false;
  std::string failureText;  // the internet layer's own message for a failure
  SecureFailure secureFailure = SecureFailure::None;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Sends the request and reads the whole reply, up to kReplyBodyLimit. `beforeSend` runs once
  // the request is open, just before it is sent (the diagnostic's trace message hooks in there).
  // Connect, send and receive time-outs are the client's; a request that runs out is SendFailed.
  virtual HttpResponse Get(const HttpRequest& request, const std::function<void()>& beforeSend) = 0;
};

}  // namespace quorvel
