#include "service/boxlink/box_memory.h"

#include <cstdio>
#include <cstdlib>

#include "service/boxlink/count_record.h"
#include "service/platform/file_contents.h"

namespace quorvel {
namespace {

constexpr const char* kFileName = "\\quorveld.box";
constexpr const char* kRepeated = "repeated";

const std::vector<std::string> kNothing;

bool IsWholeRecord(const std::string& line) {
  CountRecord record;
  record.ParseRecord(line.c_str());
  return record.ChecksumOk();
}

std::vector<std::string> Lines(std::FILE* file) {
  std::vector<std::string> lines;
  std::string line;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    lines.push_back(line);
    line.clear();
  }
  return lines;  // a last line without its line feed is torn: left out
}

}  // namespace

BoxMemory::BoxMemory(const Settings& settings, FileSystem& files, const LocalStore& store)
    : settings_(settings), files_(files), store_(store) {}

std::string BoxMemory::Path() const {
  return settings_.LocalDir + kFileName;
}

// One line per record: the serial, a blank, the record line as the box sent it. A line noted
// during a download has "@offset" after the serial; "serial@repeated" notes a whole repeat.
void BoxMemory::Load() {
  if (loaded_) return;
  loaded_ = true;
  FileHandle file = files_.Open(Path(), "rb", /*denyWrite=*/false);
  if (!file) return;
  std::map<std::string, std::vector<std::pair<long, std::string>>> noted;
  std::map<std::string, bool> repeated;
  for (const std::string& line : Lines(file.get())) {
    const std::size_t blank = line.find(' ');
    const std::string head = line.substr(0, blank);
    const std::size_t at = head.find('@');
    const std::string serial = head.substr(0, at);
    if (at == std::string::npos) {
      if (blank != std::string::npos) boxes_[serial].push_back(line.substr(blank + 1));
    } else if (head.substr(at + 1) == kRepeated) {
      repeated[serial] = true;
    } else if (blank != std::string::npos && IsWholeRecord(line.substr(blank + 1))) {
      // A note cut short is no note; the ones after it still count.
      noted[serial].emplace_back(std::atol(head.c_str() + at + 1), line.substr(blank + 1));
    }
  }
  file.reset();
  if (!noted.empty()) TakeNotedLines(std::move(noted), repeated);
}

bool BoxMemory::StillInCache(const std::string& serial, const std::string& line, long offset,
                             std::FILE* cache) const {
  CountRecord record;
  record.ParseRecord(line.c_str());
  const std::string expected = serial + "," + record.FormatRecord() + "\n";
  std::string found(expected.size(), '\0');
  return offset >= 0 && std::fseek(cache, offset, SEEK_SET) == 0 &&
         std::fread(found.data(), 1, found.size(), cache) == found.size() && found == expected;
}

// Lines a stopped download noted count up to the first one the cache no longer holds where it
// was stored: after the box's whole repeat they follow what it held before, otherwise the box
// had been cleared and they are all it holds.
void BoxMemory::TakeNotedLines(
    std::map<std::string, std::vector<std::pair<long, std::string>>> noted,
    const std::map<std::string, bool>& repeated) {
  FileHandle cache = files_.Open(store_.CachePath(), "rb", /*denyWrite=*/false);
  auto next = boxes_;
  for (auto& [serial, lines] : noted) {
    std::vector<std::string> stored;
    for (const auto& [offset, line] : lines) {
      if (!cache || !StillInCache(serial, line, offset, cache.get())) break;
      stored.push_back(line);
    }
    if (stored.empty()) continue;
    std::vector<std::string>& held = next[serial];
    if (!repeated.count(serial)) held.clear();
    held.insert(held.end(), stored.begin(), stored.end());
  }
  cache.reset();
  Save(next);
  boxes_ = std::move(next);
}

const std::vector<std::string>& BoxMemory::Of(const std::string& serial) {
  Load();
  const auto it = boxes_.find(serial);
  return it == boxes_.end() ? kNothing : it->second;
}

bool BoxMemory::Set(const std::string& serial, const std::vector<std::string>& lines) {
  // Kept for this run even when the disk is full; the file then still has what was there.
  Keep(serial, lines);
  return Save(boxes_);
}

void BoxMemory::Keep(const std::string& serial, const std::vector<std::string>& lines) {
  Load();
  if (lines.empty())
    boxes_.erase(serial);
  else
    boxes_[serial] = lines;
}

bool BoxMemory::Save(const std::map<std::string, std::vector<std::string>>& boxes) {
  std::string text;
  for (const auto& [box, held] : boxes)
    for (const std::string& line : held) text += box + " " + line + "\n";
  return ReplaceWholeFile(files_, Path(), text);
}

// Each note is on the disk before its line goes to the cache: the system may write the cache's
// pages back before the note's, and a cache line kept by a power cut without its note would be
// stored again when the box repeats it.
bool BoxMemory::AppendNote(const std::string& text) {
  Load();
  FileHandle file = files_.Open(Path(), "a+b", /*denyWrite=*/true);
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return false;
  const long before = std::ftell(file.get());
  // A note cut short by a power cut ends without its line feed; this one starts on a line of
  // its own.
  const bool torn = before > 0 && (std::fseek(file.get(), -1, SEEK_END) != 0 ||
                                   std::fgetc(file.get()) != '\n');
  const std::string note = torn ? "\n" + text : text;
  if (before >= 0 && std::fseek(file.get(), 0, SEEK_END) == 0 &&
      std::fwrite(note.data(), 1, note.size(), file.get()) == note.size() &&
      files_.Commit(file.get()))
    return true;
  file.reset();
  // Part of it may be in the file (a full disk): a whole note left there would count after a
  // restart for a line that was never stored, and a part would run into the next note.
  if (before >= 0) files_.Truncate(Path(), before);
  return false;
}

bool BoxMemory::NoteStoring(const std::string& serial, const std::string& line, long cacheOffset) {
  return AppendNote(serial + "@" + std::to_string(cacheOffset) + " " + line + "\n");
}

void BoxMemory::NoteRepeated(const std::string& serial) {
  AppendNote(serial + "@" + kRepeated + "\n");
}

}  // namespace quorvel
