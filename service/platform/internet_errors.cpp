#include "service/platform/internet_errors.h"

namespace quorvel {
namespace {

// INTERNET_ERROR_BASE (12000) + n, as <wininet.h> numbers them.
constexpr unsigned long kCertDateInvalid = 12037;
constexpr unsigned long kCertNameInvalid = 12038;
constexpr unsigned long kClientCertNeeded = 12044;
constexpr unsigned long kInvalidAuthority = 12045;
constexpr unsigned long kCertErrors = 12055;
constexpr unsigned long kCertNoRevocation = 12056;
constexpr unsigned long kCertRevocationFailed = 12057;
constexpr unsigned long kSecurityChannelError = 12157;
constexpr unsigned long kInvalidCert = 12169;
constexpr unsigned long kCertRevoked = 12170;
constexpr unsigned long kDecodingFailed = 12175;

}  // namespace

SecureFailure SecureFailureFromInternetError(unsigned long error) {
  switch (error) {
    case kInvalidAuthority:
    // Wine reports a chain that ends at an authority missing from the root store as a failed
    // revocation check (measured: 12057 before the test authority is trusted, 200 after).
    case kCertRevocationFailed:
      return SecureFailure::UntrustedIssuer;
    case kCertDateInvalid:
      return SecureFailure::Expired;
    case kCertNameInvalid:
      return SecureFailure::NameMismatch;
    case kClientCertNeeded:
    case kCertErrors:
    case kCertNoRevocation:
    case kSecurityChannelError:
    case kInvalidCert:
    case kCertRevoked:
    case kDecodingFailed:
      return SecureFailure::HandshakeFailed;
    default:
      return SecureFailure::None;
  }
}

}  // namespace quorvel
