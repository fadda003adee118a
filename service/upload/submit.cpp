#include "service/upload/submit.h"

#include <ctime>

#include "service/upload/request_path.h"
#include "service/upload/server_reply.h"

namespace quorvel {
namespace {

constexpr std::size_t kFailureTextLimit = 256;

HttpRequest ServerRequest(const Settings& settings, std::string object, bool diagnostic) {
  HttpRequest request;
  request.host = settings.ServerDomain;
  // Only the low 16 bits of the stored port count.
  request.port = static_cast<std::uint16_t>(settings.ServerPort);
  request.object = std::move(object);
  request.direct = settings.IgnoreProxy != 0;
  request.diagnostic = diagnostic;
  request.secure = settings.Secure == 1;
  return request;
}

std::string LocalClockText(const Clock& clock) {
  const std::tm local = clock.ToLocal(clock.Now());
  char text[16];
  const std::size_t length = std::strftime(text, sizeof text, "%m%d%H%M", &local);
  return std::string(text, length);
}

// A reply cut off in mid-transfer may end in part of a line; only whole lines count then.
std::string_view WholeLines(const HttpResponse& response) {
  std::string_view body = response.body;
  if (response.bodyComplete) return body;
  const std::size_t lastEnd = body.rfind('\n');
  return lastEnd == std::string_view::npos ? std::string_view() : body.substr(0, lastEnd + 1);
}

void ShowTrace(Notifier& notifier, const std::string& text, const std::string& caption) {
  notifier.Show(text, caption, MessageIcon::Information, MessageOwner::None);
}

}  // namespace

int SubmitBatch(const UploadBatch& batch, const Settings& settings, Platform& platform,
                LocalStore& store, bool& clockSyncPending, SecureFailure& secureFailure) {
  const std::string path =
      settings.Encrypt != 0
          ? ScrambledRequestPath(
                batch, static_cast<std::uint16_t>(platform.clock.MillisecondsSinceStart() & 0xFFFF))
          : PlainRequestPath(batch);
  store.WriteLogLine("; Request " + path);

  const HttpRequest request = ServerRequest(settings, path, /*diagnostic=*/false);
  const HttpResponse response = platform.http.Get(request, nullptr);
  // A plain upload never reports a certificate reason, whatever the layer says.
  secureFailure = request.secure ? response.secureFailure : SecureFailure::None;
  if (response.outcome != HttpResponse::Outcome::Received) return 0;

  const ServerReply reply = ParseServerReply(WholeLines(response), LocalClockText(platform.clock));
  if (reply.clockAgrees) clockSyncPending = true;
  return reply.resultCode.value_or(response.status);
}

std::string SecureFailureLogLine(SecureFailure failure) {
  switch (failure) {
    case SecureFailure::UntrustedIssuer:
      return ";Secure connection failed: untrusted issuer.";
    case SecureFailure::Expired:
      return ";Secure connection failed: certificate expired.";
    case SecureFailure::NameMismatch:
      return ";Secure connection failed: name mismatch.";
    case SecureFailure::HandshakeFailed:
      return ";Secure connection failed: handshake failed.";
    case SecureFailure::None:
      break;
  }
  return "";
}

bool PingServer(bool interactive, const Settings& settings, Platform& platform) {
  const HttpRequest request =
      ServerRequest(settings, "ping?" + platform.program.ProductVersion(), /*diagnostic=*/true);
  const auto beforeSend = [&] {
    if (interactive) ShowTrace(platform.notifier, "About to call SendRequest.", "Trace");
  };
  const HttpResponse response = platform.http.Get(request, beforeSend);
  if (response.outcome != HttpResponse::Outcome::Received) {
    if (interactive)
      ShowTrace(platform.notifier, response.failureText.substr(0, kFailureTextLimit),
                "SendRequest failure");
    return false;
  }
  if (interactive) ShowTrace(platform.notifier, "SendRequest completed.", "Trace");
  return response.status >= 200 && response.status <= 202;
}

}  // namespace quorvel
