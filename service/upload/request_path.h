#pragma once
// The upload request's path: the batch's head and its run-length compressed hours, either as
// they are or with their digits scrambled by a keystream whose seed travels in the path.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

struct UploadBatch;

// Runs of 3 to 27 equal characters become a letter (B for 3 ... Z for 27) and the character;
// runs of 1 or 2 stay as they are. A run is cut after 27 characters.
std::string CompressHours(std::string_view hours);

// The linear congruential generator of the classic C runtime (rand/srand).
class ClassicRandom {
 public:
  explicit ClassicRandom(std::uint32_t seed) : state_(seed) {}
  int Next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_;
};

// Every character of the head takes one draw and becomes a digit, hex letters included
// (the server reads "a" back as 9). In the hours only the digits take draws; run letters
// and hex letters stay.
std::string ScrambleHead(std::string_view head, ClassicRandom& draws);
std::string ScrambleHours(std::string_view compressedHours, ClassicRandom& draws);

// "/submitr?" + serial and date + compressed hours.
std::string PlainRequestPath(const UploadBatch& batch);
// "/submitrs?" + the seed as four upper-case hex digits + the scrambled head and hours.
std::string ScrambledRequestPath(const UploadBatch& batch, std::uint16_t seed);

}  // namespace quorvel
