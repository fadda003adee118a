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

bool KeepCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath) {
  const auto text = files.Exists(path) ? ReadWholeFile(files, path) : std::string();
  return text && ReplaceWholeFile(files, copyPath, *text);
}

bool DropCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath) {
  FileHandle rewritten = files.Open(path, "r+b", /*denyWrite=*/false);
  if (!rewritten || !files.Commit(rewritten.get())) return false;
  rewritten.reset();
  return files.Remove(copyPath);
}

bool RestoreCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath) {
  if (!files.Exists(copyPath)) return true;
  const auto saved = ReadWholeFile(files, copyPath);
  if (!saved) return false;
  // A file that still holds the copy's text only needs to be on the disk; one that cannot
  // even be opened for writing was not rewritten.
  if (ReadWholeFile(files, path) == saved) {
    FileHandle file = files.Open(path, "r+b", /*denyWrite=*/false);
    if (file && !files.Commit(file.get())) return false;
  } else {
    FileHandle file = files.Open(path, "wb", /*denyWrite=*/false);
    const bool restored = file &&
                          std::fwrite(saved->data(), 1, saved->size(), file.get()) ==
                              saved->size() &&
                          files.Commit(file.get());
    if (!restored) return false;
  }
  return files.Remove(copyPath);
}

}  // namespace quorvel
