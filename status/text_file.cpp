#include <algorithm>
#include <cstring>

#include "status/status_files.h"

namespace quorvel {

std::size_t TextFile::ReadAt(std::int64_t offset, char* into, std::size_t count) {
  if (offset < 0 || offset >= Size()) return 0;
  const std::size_t start = static_cast<std::size_t>(offset);
  const std::size_t n = std::min(count, bytes_.size() - start);
  std::memcpy(into, bytes_.data() + start, n);
  return n;
}

}  // namespace quorvel
