#include "service/store/local_store.h"

namespace quorvel {
namespace {

// Both files are written in binary mode so that the line ends are exactly what is written
// here on every platform: CR LF in the log, LF alone in the cache.
constexpr const char* kLogLineEnd = "\r\n";
constexpr const char* kLogMode = "ab";
constexpr const char* kCacheWriteMode = "ab";
constexpr const char* kCacheReadMode = "a+b";

bool WriteAll(std::FILE* file, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

}  // namespace

LocalStore::LocalStore(const Settings& settings, FileSystem& files)
    : settings_(settings), files_(files) {}

std::string LocalStore::LogPath() const {
  return settings_.LocalDir + "\\quorveld.log";
}
std::string LocalStore::CachePath() const {
  return settings_.LocalDir + "\\quorveld.dat";
}
std::string LocalStore::ListPath() const {
  return settings_.LocalDir + "\\quorveld.lst";
}

bool LocalStore::OpenLog() {
  if (settings_.Logging == 0) {
    CloseLog();
    return false;
  }
  if (!log_) log_ = files_.Open(LogPath(), kLogMode, /*denyWrite=*/true);
  return log_ != nullptr;
}

bool LocalStore::CloseLog() {
  if (!log_) return false;
  log_.reset();
  return true;
}

void LocalStore::WriteLogLine(const std::string& text) {
  WriteLogText(text);
  EndLogLine();
}

void LocalStore::WriteLogText(const std::string& piece) {
  if (log_) WriteAll(log_.get(), piece);
}

void LocalStore::EndLogLine() {
  if (!log_) return;
  std::fputs(kLogLineEnd, log_.get());
  std::fflush(log_.get());
}

bool LocalStore::OpenCache(bool forWriting) {
  if (cache_) return true;
  cache_ = files_.Open(CachePath(), forWriting ? kCacheWriteMode : kCacheReadMode,
                       /*denyWrite=*/true);
  cacheForWriting_ = forWriting;
  if (!cache_) return false;
  wholeLinesEnd_ = std::fseek(cache_.get(), 0, SEEK_END) == 0 ? std::ftell(cache_.get()) : -1;
  return true;
}

bool LocalStore::CloseCache() {
  if (!cache_) return false;
  cache_.reset();
  return true;
}

bool LocalStore::AppendCacheLine(const std::string& line) {
  if (!cache_) return false;
  const bool written = WriteAll(cache_.get(), line + "\n");
  if (std::fflush(cache_.get()) == 0 && written) {
    wholeLinesEnd_ += static_cast<long>(line.size() + 1);
    return true;
  }
  CutBackToWholeLines();
  return false;
}

void LocalStore::CutBackToWholeLines() {
  // A write that failed part way (a full disk takes what fits) leaves the start of a line
  // without its line feed; the next line appended would run into it and both records would
  // read wrongly. Closing first lets the runtime write or drop what it still buffers, so
  // nothing lands after the cut; the stream is then opened again for the next line.
  CloseCache();
  if (wholeLinesEnd_ >= 0 && files_.Truncate(CachePath(), wholeLinesEnd_)) OpenCache(true);
}

bool LocalStore::CommitCache() {
  return cache_ && files_.Commit(cache_.get());
}

}  // namespace quorvel
