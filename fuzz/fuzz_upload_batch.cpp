// The cache file as found on disk: the input is written as quorveld.dat, then
// BuildUploadBatch and TrimCache run over it.
// The head count ends at a line end inside the file (or at its end), building leaves the file
// as it was, a batch is either all zero or 406 hex digits, an empty batch covers exactly
// the first line, and the trimmed file is exactly the tail after the head count.
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/store/local_store.h"
#include "service/upload/upload_batch.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using quorvel::UploadBatch;
using quorvel::testing::TempDir;

std::size_t FirstLineLength(const std::string& cache) {
  const std::size_t end = cache.find('\n');
  return end == std::string::npos ? cache.size() : end + 1;
}

void CheckBatchText(const UploadBatch& batch) {
  FUZZ_CHECK(batch.text[UploadBatch::kLength] == '\0', "batch not terminated");
  if (batch.IsEmpty()) {
    for (const char c : batch.text) FUZZ_CHECK(c == '\0', "empty batch holds text");
    return;
  }
  const std::string text(batch.text.data(), UploadBatch::kLength);
  FUZZ_CHECK(text.find_first_not_of("0123456789abcdef") == std::string::npos, "batch '%s'",
             text.c_str());
  FUZZ_CHECK(text.substr(14, 8).find_first_not_of("0123456789") == std::string::npos,
             "batch date '%s'", text.substr(14, 8).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir;
  const std::string cache(reinterpret_cast<const char*>(data), size);
  dir.Write("quorveld.dat", cache);

  quorvel::testing::FakePlatform fake;
  quorvel::Settings settings;
  settings.LocalDir = dir.ServicePath();
  quorvel::LocalStore store(settings, *fake.files);

  UploadBatch batch;
  const std::int64_t head = quorvel::BuildUploadBatch(store, batch);
  FUZZ_CHECK(!store.IsCacheOpen(), "cache left open");
  FUZZ_CHECK(head >= 0 && static_cast<std::size_t>(head) <= cache.size(),
             "head count %lld of a %zu-byte cache", static_cast<long long>(head), cache.size());
  const auto headSize = static_cast<std::size_t>(head);
  FUZZ_CHECK(headSize == cache.size() || (headSize > 0 && cache[headSize - 1] == '\n'),
             "head count %zu is not at a line end", headSize);
  FUZZ_CHECK(dir.Read("quorveld.dat") == cache, "building changed the cache");
  CheckBatchText(batch);
  if (batch.IsEmpty())
    FUZZ_CHECK(headSize == FirstLineLength(cache), "empty batch covers %zu bytes, first line %zu",
               headSize, FirstLineLength(cache));

  UploadBatch again;
  FUZZ_CHECK(quorvel::BuildUploadBatch(store, again) == head && again.text == batch.text,
             "a second build differs");

  FUZZ_CHECK(quorvel::TrimCache(settings, *fake.files, head), "trim of %zu bytes failed", headSize);
  FUZZ_CHECK(dir.Read("quorveld.dat") == cache.substr(headSize),
             "trimmed cache is not the tail after %zu bytes", headSize);
  FUZZ_CHECK(!std::filesystem::exists(dir.File("quorveld.lst")), "list file left behind");
  return 0;
}
