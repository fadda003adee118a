#pragma once
// What each box still holds that is already in the cache: the record lines it sent since its
// last clear that succeeded, in the order it sent them. A box that was not cleared (the clear
// failed, timed out, or the download broke off) sends all of them again first at the next
// download; that replay, and only that, is not stored twice. Kept in quorveld.box beside the
// cache, replaced in one step, so that a restart between the two downloads changes nothing.
//
// A download stopped before its end (the program killed) leaves behind the lines it noted as
// it stored them, each with where it went in the cache; on loading, each such line counts only
// while the cache still holds it there, so nothing counts as stored that a power cut took.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "service/platform/file_system.h"
#include "service/settings/settings.h"
#include "service/store/local_store.h"

namespace quorvel {

class BoxMemory {
 public:
  BoxMemory(const Settings& settings, FileSystem& files, const LocalStore& store);

  // Reads quorveld.box; before the cache is first trimmed in a run, so that lines a stopped
  // download noted can be checked against it. Done by the first use otherwise.
  void Load();
  // The lines the box with `serial` holds that are stored; empty when none or unknown.
  const std::vector<std::string>& Of(const std::string& serial);
  // Records what the box holds now; false when that could not be saved.
  bool Set(const std::string& serial, const std::vector<std::string>& lines);
  // Records what the box holds now for this run only, leaving quorveld.box as it is.
  void Keep(const std::string& serial, const std::vector<std::string>& lines);
  // Notes, until the next Set, a line of the download in progress about to be stored at
  // `cacheOffset`; false when the note could not be written (the line must not be stored
  // then, or its repeat would be stored again after a restart).
  bool NoteStoring(const std::string& serial, const std::string& line, long cacheOffset);
  // Notes that the download in progress repeated all the box held before.
  void NoteRepeated(const std::string& serial);

 private:
  void TakeNotedLines(std::map<std::string, std::vector<std::pair<long, std::string>>> noted,
                      const std::map<std::string, bool>& repeated);
  bool StillInCache(const std::string& serial, const std::string& line, long offset,
                    std::FILE* cache) const;
  bool AppendNote(const std::string& text);
  bool Save(const std::map<std::string, std::vector<std::string>>& boxes);
  std::string Path() const;

  const Settings& settings_;
  FileSystem& files_;
  const LocalStore& store_;
  std::map<std::string, std::vector<std::string>> boxes_;
  bool loaded_ = false;
};

}  // namespace quorvel
