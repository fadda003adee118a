// Drains a large cache upload by upload (BuildUploadBatch then TrimCache, as the service does
// after each accepted batch) and prints the time per upload against a plain copy of the file.
//
//   upload_drain [lines] [boxes]     defaults: 100000 lines, 50 boxes
//
// The cache holds whole box-days (24 hourly lines per box and day, as a daily poll leaves
// them), so each upload covers 24 lines. Figures from a sanitizer build are inflated.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "service/store/local_store.h"
#include "service/upload/upload_batch.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string ServicePath(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

void WriteCache(const std::filesystem::path& file, long lines, int boxes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  char line[64];
  long written = 0;
  for (int day = 0; written < lines; ++day) {
    const int date = 20070101 + (day / 28) * 100 + day % 28;  // 28-day months suffice here
    for (int box = 0; box < boxes && written < lines; ++box) {
      for (int hour = 0; hour < 24 && written < lines; ++hour, ++written) {
        std::snprintf(line, sizeof line, "%014x,%08d,%02d,%05d,%05d\n", 0x1000 + box, date, hour,
                      (box * 7 + hour) % 100, (box + hour * 3) % 100);
        out << line;
      }
    }
  }
}

// A plain buffered copy of the whole file, optionally committed to the disk as the trim does.
double PlainCopySeconds(quorvel::FileSystem& files, const std::string& from, const std::string& to,
                        bool commit) {
  const auto start = Clock::now();
  quorvel::FileHandle in = files.Open(from, "rb", false);
  quorvel::FileHandle out = files.Open(to, "wb", false);
  std::vector<char> buffer(64 * 1024);
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0;)
    std::fwrite(buffer.data(), 1, n, out.get());
  if (commit) files.Commit(out.get());
  out.reset();
  return Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 100000;
  const int boxes = argc > 2 ? std::atoi(argv[2]) : 50;
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quorvel-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);

  quorvel::Settings settings;
  settings.LocalDir = ServicePath(dir.string());
  auto files = quorvel::MakeSystemFileSystem();
  quorvel::LocalStore store(settings, *files);
  const auto cache = dir / "quorveld.dat";
  WriteCache(cache, lines, boxes);
  const auto size = std::filesystem::file_size(cache);
  const std::string copyPath = settings.LocalDir + "\\copy.dat";
  const double copy = PlainCopySeconds(*files, store.CachePath(), copyPath, false);
  const double committedCopy = PlainCopySeconds(*files, store.CachePath(), copyPath, true);

  quorvel::UploadBatch batch;
  long uploads = 0;
  double first = 0;
  const auto start = Clock::now();
  for (;;) {
    const auto one = Clock::now();
    const std::int64_t head = quorvel::BuildUploadBatch(store, batch);
    if (head == 0) break;
    if (!quorvel::TrimCache(settings, *files, head)) {
      std::fprintf(stderr, "trim failed after %ld uploads\n", uploads);
      return 1;
    }
    if (uploads++ == 0) first = Seconds(Clock::now() - one);
  }
  const double total = Seconds(Clock::now() - start);
  std::filesystem::remove_all(dir);

  std::printf("cache: %ld lines, %d boxes, %.1f MB\n", lines, boxes, size / 1e6);
  std::printf("plain copy of the cache:          %8.2f ms\n", copy * 1e3);
  std::printf("plain copy committed to disk:     %8.2f ms\n", committedCopy * 1e3);
  std::printf(
      "first upload (build + trim):      %8.2f ms  (%.2f x the plain copy, %.2f x committed)\n",
      first * 1e3, first / copy, first / committedCopy);
  std::printf("mean upload over the drain:       %8.2f ms  (%ld uploads)\n",
              uploads ? total / uploads * 1e3 : 0.0, uploads);
  std::printf("total drain:                      %8.2f s\n", total);
  return 0;
}
