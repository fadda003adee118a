#pragma once
// The log (quorveld.log) and the cache (quorveld.dat) in the LocalDir folder.
#include <cstdio>
#include <string>

#include "service/platform/file_system.h"
#include "service/settings/settings.h"

namespace quorvel {

class LocalStore {
 public:
  LocalStore(const Settings& settings, FileSystem& files);

  // Log. Lines end with CR LF whatever the platform; each line is flushed at once.
  bool OpenLog();   // true when log lines will reach the file (Logging on and open)
  bool CloseLog();  // true when a log was open and has been closed
  bool IsLogOpen() const { return log_ != nullptr; }
  void WriteLogLine(const std::string& text);   // the whole line; nothing when closed
  void WriteLogText(const std::string& piece);  // a piece of a line built up in parts
  void EndLogLine();                            // ends the line built from pieces

  // Cache. Lines end with LF alone.
  bool OpenCache(bool forWriting);  // true when open afterwards, whatever mode it had
  bool CloseCache();                // true when a cache was open and has been closed
  bool IsCacheOpen() const { return cache_ != nullptr; }
  bool IsCacheOpenForWriting() const { return cache_ != nullptr && cacheForWriting_; }
  // Appends `line` and a line feed and flushes; false when closed or the write failed. A
  // failed append leaves nothing of its line behind: the cache is cut back to the end of
  // its last whole line and opened again, or stays closed when that is not possible.
  bool AppendCacheLine(const std::string& line);
  // Pushes the cache to the disk; false when closed or the platform failed.
  bool CommitCache();
  // Where the next appended line starts; -1 when unknown.
  long CacheEnd() const { return wholeLinesEnd_; }
  // The open cache stream (for the upload's reading), null when closed.
  std::FILE* CacheStream() const { return cache_.get(); }

  std::string LogPath() const;
  std::string CachePath() const;
  std::string ListPath() const;

 private:
  void CutBackToWholeLines();

  const Settings& settings_;
  FileSystem& files_;
  FileHandle log_;
  FileHandle cache_;
  bool cacheForWriting_ = false;
  long wholeLinesEnd_ = -1;  // cache size after the last whole line; -1 when unknown
};

}  // namespace quorvel
