#include <doctest.h>

#include "service/platform/internet_errors.h"
#include "service/upload/submit.h"

namespace quorvel {
namespace {

TEST_CASE("WinINet errors of a secure request name their reason") {
  SUBCASE("as Wine reports them") {
    CHECK(SecureFailureFromInternetError(12057) == SecureFailure::UntrustedIssuer);
    CHECK(SecureFailureFromInternetError(12037) == SecureFailure::Expired);
    CHECK(SecureFailureFromInternetError(12038) == SecureFailure::NameMismatch);
    CHECK(SecureFailureFromInternetError(12157) == SecureFailure::HandshakeFailed);
  }
  SUBCASE("the other certificate and channel errors") {
    CHECK(SecureFailureFromInternetError(12045) == SecureFailure::UntrustedIssuer);
    for (const unsigned long error : {12044ul, 12055ul, 12056ul, 12169ul, 12170ul, 12175ul})
      CHECK_MESSAGE(SecureFailureFromInternetError(error) == SecureFailure::HandshakeFailed, error);
  }
  SUBCASE("errors that are not about the certificate or TLS") {
    // refused, aborted, timed out, name not resolved, success
    for (const unsigned long error : {12029ul, 12030ul, 12002ul, 12007ul, 0ul})
      CHECK_MESSAGE(SecureFailureFromInternetError(error) == SecureFailure::None, error);
  }
}

TEST_CASE("each reason has its own log line; None has none") {
  CHECK(SecureFailureLogLine(SecureFailure::UntrustedIssuer) ==
        ";Secure connection failed: untrusted issuer.");
  CHECK(SecureFailureLogLine(SecureFailure::Expired) ==
        ";Secure connection failed: certificate expired.");
  CHECK(SecureFailureLogLine(SecureFailure::NameMismatch) ==
        ";Secure connection failed: name mismatch.");
  CHECK(SecureFailureLogLine(SecureFailure::HandshakeFailed) ==
        ";Secure connection failed: handshake failed.");
  CHECK(SecureFailureLogLine(SecureFailure::None).empty());
}

}  // namespace
}  // namespace quorvel
