#include "service/boxlink/box_memory.h"

#include <cstdio>

namespace quorvel {
namespace {

constexpr const char* kFileName = "\\quorveld.box";
constexpr const char* kNewSuffix = ".new";

const std::vector<std::string> kNothing;

}  // namespace

BoxMemory::BoxMemory(const Settings& settings, FileSystem& files)
    : settings_(settings), files_(files) {}

std::string BoxMemory::Path() const {
  return settings_.LocalDir + kFileName;
}

// One line per record: the serial, a blank, the record line as the box sent it. Only whole
// lines count; the file is never appended to, so a torn line cannot occur short of damage.
void BoxMemory::Load() {
  if (loaded_) return;
  loaded_ = true;
  FileHandle file = files_.Open(Path(), "rb", /*denyWrite=*/false);
  if (!file) return;
  std::string line;
  for (int c = std::fgetc(file.get()); c != EOF; c = std::fgetc(file.get())) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    const std::size_t blank = line.find(' ');
    if (blank != std::string::npos) boxes_[line.substr(0, blank)].push_back(line.substr(blank + 1));
    line.clear();
  }
}

const std::vector<std::string>& BoxMemory::Of(const std::string& serial) {
  Load();
  const auto it = boxes_.find(serial);
  return it == boxes_.end() ? kNothing : it->second;
}

bool BoxMemory::Set(const std::string& serial, const std::vector<std::string>& lines) {
  Load();
  if (lines == Of(serial)) return true;
  auto next = boxes_;
  if (lines.empty())
    next.erase(serial);
  else
    next[serial] = lines;

  std::string text;
  for (const auto& [box, held] : next)
    for (const std::string& line : held) text += box + " " + line + "\n";
  const std::string newPath = Path() + kNewSuffix;
  FileHandle file = files_.Open(newPath, "wb", /*denyWrite=*/true);
  const bool written = file &&
                       std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                       files_.Commit(file.get());
  file.reset();
  if (!written || !files_.Replace(newPath, Path())) {
    files_.Remove(newPath);
    return false;
  }
  boxes_ = std::move(next);
  return true;
}

}  // namespace quorvel
