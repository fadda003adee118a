#pragma once
// One box-day of hourly sums taken from the head of the cache.
#include <array>
#include <cstdint>

#include "service/settings/settings.h"
#include "service/platform/file_system.h"
#include "service/store/local_store.h"

namespace quorvel {

struct UploadBatch {
  static constexpr int kLength = 406;
  std::array<char, kLength + 1> text{};  // zero-terminated; all zero when empty
  bool IsEmpty() const { return text[0] == '\0'; }
};

// Fills `batch` from the head of the cache (opened for reading through `store`) and returns
// the number of bytes at the head of the cache that it covers; 0 means nothing to send.
std::int64_t BuildUploadBatch(LocalStore& store, UploadBatch& batch);

// Removes `headCount` bytes from the start of the cache; true when the shortened file has
// replaced the old one. The old file is replaced in one atomic step, never deleted first.
bool TrimCache(const Settings& settings, FileSystem& files, std::int64_t headCount);

}  // namespace quorvel
