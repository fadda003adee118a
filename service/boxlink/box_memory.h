#pragma once
// What each box still holds that is already in the cache: the record lines it sent since its
// last clear that succeeded, in the order it sent them. A box that was not cleared (the clear
// failed, timed out, or the download broke off) sends all of them again first at the next
// download; that replay, and only that, is not stored twice. Kept in quorveld.box beside the
// cache, replaced in one step, so that a restart between the two downloads changes nothing.
#include <map>
#include <string>
#include <vector>

#include "service/platform/file_system.h"
#include "service/settings/settings.h"

namespace quorvel {

class BoxMemory {
 public:
  BoxMemory(const Settings& settings, FileSystem& files);

  // The lines the box with `serial` holds that are stored; empty when none or unknown.
  const std::vector<std::string>& Of(const std::string& serial);
  // Records what the box holds now; false when that could not be saved.
  bool Set(const std::string& serial, const std::vector<std::string>& lines);

 private:
  void Load();
  std::string Path() const;

  const Settings& settings_;
  FileSystem& files_;
  std::map<std::string, std::vector<std::string>> boxes_;
  bool loaded_ = false;
};

}  // namespace quorvel
