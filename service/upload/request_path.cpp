#include "service/upload/request_path.h"

#include <cstdio>

#include "service/upload/upload_batch.h"

namespace quorvel {
namespace {

constexpr std::size_t kHeadLength = 22;  // 14 serial digits and 8 date digits
constexpr std::size_t kHoursLength = UploadBatch::kLength - kHeadLength;
constexpr std::size_t kLongestRun = 27;  // 'Z' - 63

std::string_view Head(const UploadBatch& batch) {
  return std::string_view(batch.text.data(), kHeadLength);
}

std::string_view Hours(const UploadBatch& batch) {
  return std::string_view(batch.text.data() + kHeadLength, kHoursLength);
}

char ScrambleDigit(int value, ClassicRandom& draws) {
  // value may lie outside 0..9 (hex letters of the serial); keep the result a digit.
  const int digit = (draws.Next() % 10 + value) % 10;
  return static_cast<char>('0' + (digit + 10) % 10);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string CompressHours(std::string_view hours) {
  std::string out;
  std::size_t i = 0;
  while (i < hours.size()) {
    const char c = hours[i];
    std::size_t run = 1;
    while (i + run < hours.size() && hours[i + run] == c && run < kLongestRun) ++run;
    if (run <= 2) {
      out.append(run, c);
    } else {
      out += static_cast<char>(63 + run);
      out += c;
    }
    i += run;
  }
  return out;
}

std::string ScrambleHead(std::string_view head, ClassicRandom& draws) {
  std::string out;
  for (const char c : head) out += ScrambleDigit(c - '0', draws);
  return out;
}

std::string ScrambleHours(std::string_view compressedHours, ClassicRandom& draws) {
  std::string out(compressedHours);
  for (char& c : out)
    if (IsDigit(c)) c = ScrambleDigit(c - '0', draws);
  return out;
}

std::string PlainRequestPath(const UploadBatch& batch) {
  return "/submitr?" + std::string(Head(batch)) + CompressHours(Hours(batch));
}

std::string ScrambledRequestPath(const UploadBatch& batch, std::uint16_t seed) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "/submitrs?%04X", static_cast<unsigned>(seed));
  ClassicRandom draws(seed);
  std::string path = prefix;
  path += ScrambleHead(Head(batch), draws);
  path += ScrambleHours(CompressHours(Hours(batch)), draws);
  return path;
}

}  // namespace quorvel
