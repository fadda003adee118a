// The collection server's reply: ParseServerReply on any body, and SubmitBatch over a fake
// HTTP client that answers with the input; on the way, the request path of a batch made
// from the input.
//
// Input: a flag byte (bit 0 Encrypt, bit 1 body complete, bit 2 the batch text comes from
// the input), two bytes of HTTP status, two bytes of seed, then 406 bytes of batch text when
// bit 2 is set, then the body.
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/store/local_store.h"
#include "service/upload/request_path.h"
#include "service/upload/server_reply.h"
#include "service/upload/submit.h"
#include "tests/fakes/fakes.h"

namespace {

using quorvel::UploadBatch;

constexpr std::string_view kResponseMarker = "id=\"server_response";
// Serial 0123456789abcd, 22 January 2007, hour 13 with sums 0000000d and 00000024.
UploadBatch FixedBatch() {
  std::string text = "0123456789abcd20070122" + std::string(UploadBatch::kLength - 22, '0');
  text.replace(22 + 16 * 13, 16, "0000000d00000024");
  UploadBatch batch;
  std::memcpy(batch.text.data(), text.data(), UploadBatch::kLength);
  return batch;
}

// Undoes CompressHours: a letter B to Z followed by a character stands for 3 to 27 of it.
std::string Expand(std::string_view compressed) {
  std::string out;
  for (std::size_t i = 0; i < compressed.size(); ++i) {
    const char c = compressed[i];
    if (c >= 'B' && c <= 'Z' && i + 1 < compressed.size()) {
      out.append(static_cast<std::size_t>(c - 63), compressed[i + 1]);
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The path of a batch whose hours hold only hex digits, as the cache reader writes them.
void CheckPaths(const UploadBatch& batch, std::uint16_t seed) {
  const std::string_view hours(batch.text.data() + 22, UploadBatch::kLength - 22);
  const std::string compressed = quorvel::CompressHours(hours);
  FUZZ_CHECK(Expand(compressed) == hours, "compressed hours '%s' do not expand back",
             compressed.c_str());

  const std::string plain = quorvel::PlainRequestPath(batch);
  FUZZ_CHECK(plain.rfind("/submitr?", 0) == 0, "path '%s'", plain.c_str());
  const std::string scrambled = quorvel::ScrambledRequestPath(batch, seed);
  FUZZ_CHECK(scrambled.size() == plain.size() + 5, "scrambled path '%s'", scrambled.c_str());
  // Subtracting the same draws restores every digit; run letters and hex letters stay put.
  quorvel::ClassicRandom draws(seed);
  for (std::size_t i = 0; i < 22; ++i) {
    const char sent = scrambled[14 + i];
    FUZZ_CHECK(IsDigit(sent), "scrambled head '%s'", scrambled.c_str());
    const int restored = ((sent - '0') - draws.Next() % 10 + 10) % 10;
    const int original = batch.text[i] - '0';
    FUZZ_CHECK(restored == (original + 10) % 10, "head character %zu '%c' comes back as %d", i,
               batch.text[i], restored);
  }
  for (std::size_t i = 9 + 22; i < plain.size(); ++i) {
    const char before = plain[i], sent = scrambled[i + 5];
    if (!IsDigit(before)) {
      FUZZ_CHECK(sent == before, "'%c' changed to '%c'", before, sent);
      continue;
    }
    FUZZ_CHECK(IsDigit(sent) && ((sent - '0') - draws.Next() % 10 + 10) % 10 == before - '0',
               "hour digit %zu does not come back", i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvel::fuzz::InputReader input(data, size);
  const std::uint8_t flags = input.Byte();
  const int status = input.Byte() | input.Byte() << 8;
  const auto seed = static_cast<std::uint16_t>(input.Byte() | input.Byte() << 8);

  UploadBatch batch = FixedBatch();
  if (flags & 4) {
    // Hex digits only, as the batch builder writes; the run boundaries are what counts.
    const std::string raw = input.Bytes(UploadBatch::kLength);
    for (std::size_t i = 0; i < raw.size(); ++i)
      batch.text[i] = "0123456789abcdef"[static_cast<std::uint8_t>(raw[i]) % 16];
  }
  CheckPaths(batch, seed);

  const std::string body = input.Rest();
  const quorvel::ServerReply parsed = quorvel::ParseServerReply(body, "01221305");
  if (body.find(kResponseMarker) == std::string::npos)
    FUZZ_CHECK(!parsed.resultCode && !parsed.clockAgrees, "no marker, still a result");
  if (parsed.resultCode) FUZZ_CHECK(*parsed.resultCode >= 0, "result %d", *parsed.resultCode);

  quorvel::testing::FakePlatform fake;
  quorvel::Settings settings;
  settings.ServerDomain = "127.0.0.1";
  settings.ServerPort = 80;
  settings.Encrypt = flags & 1;
  settings.LocalDir = "unused";
  quorvel::LocalStore store(settings, *fake.files);
  fake.http.replies.push_back(
      {quorvel::HttpResponse::Outcome::Received, status, body, (flags & 2) != 0, ""});
  bool clockSyncPending = false;
  quorvel::SecureFailure secureFailure = quorvel::SecureFailure::None;
  const int result = quorvel::SubmitBatch(batch, settings, fake.platform, store, clockSyncPending,
                                          secureFailure);
  FUZZ_CHECK(fake.http.requests.size() == 1, "%zu requests", fake.http.requests.size());
  FUZZ_CHECK(result >= 0, "result %d", result);
  if ((flags & 2) != 0) {
    // A complete body is read whole; the fake clock reads 01221305.
    FUZZ_CHECK(result == parsed.resultCode.value_or(status), "result %d", result);
    FUZZ_CHECK(clockSyncPending == parsed.clockAgrees, "clock agreement differs");
  }
  return 0;
}
