#include "service/platform/file_contents.h"

namespace quorvel {

std::optional<std::string> ReadWholeFile(FileSystem& files, const std::string& path) {
  FileHandle file = files.Open(path, "rb", /*denyWrite=*/false);
  if (!file) return std::nullopt;
  std::string text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
    text.append(chunk, n);
  if (std::ferror(file.get())) return std::nullopt;
  return text;
}

bool ReplaceWholeFile(FileSystem& files, const std::string& path, const std::string& text) {
  const std::string newPath = path + ".new";
  FileHandle file = files.Open(newPath, "wb", /*denyWrite=*/true);
  const bool written = file &&
                       std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                       files.Commit(file.get());
  file.reset();
  if (written && files.Replace(newPath, path)) return true;
  files.Remove(newPath);
  return false;
}

}  // namespace quorvel
