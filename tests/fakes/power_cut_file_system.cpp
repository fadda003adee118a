#include "tests/fakes/power_cut_file_system.h"

namespace quorvel::testing {

PowerCutFileSystem::PowerCutFileSystem() = default;

void PowerCutFileSystem::Step() {
  if (++operations_ == cutAfter_) throw PowerCut{};
}

std::optional<std::string> PowerCutFileSystem::ReadNow(const std::string& path) {
  FileHandle file = real_->Open(path, "rb", /*denyWrite=*/false);
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0;)
    bytes.append(chunk, n);
  return bytes;
}

void PowerCutFileSystem::TakeAsDurable(const std::string& path) {
  touched_.insert(path);
  if (const auto bytes = ReadNow(path)) durable_[path] = *bytes;
}

void PowerCutFileSystem::LeaveOnlyDurable() {
  cutAfter_ = 0;
  for (const std::string& path : touched_) {
    const auto it = durable_.find(path);
    if (it == durable_.end()) {
      real_->Remove(path);
      continue;
    }
    FileHandle file = real_->Open(path, "wb", /*denyWrite=*/false);
    std::fwrite(it->second.data(), 1, it->second.size(), file.get());
  }
  held.clear();
  busy.clear();
}

FileHandle PowerCutFileSystem::Open(const std::string& path, const char* mode, bool denyWrite) {
  touched_.insert(path);
  FileHandle file = busy.count(path) ? nullptr : real_->Open(path, mode, denyWrite);
  if (file) openPaths_[file.get()] = path;
  Step();
  return file;
}

bool PowerCutFileSystem::Commit(std::FILE* file) {
  // What reaches the disk is recorded here; the host's own flush to the disk would only slow
  // the tests down.
  const bool committed = std::fflush(file) == 0;
  if (committed) {
    const std::string& path = openPaths_.at(file);
    if (const auto bytes = ReadNow(path)) durable_[path] = *bytes;
  }
  Step();
  return committed;
}

bool PowerCutFileSystem::Replace(const std::string& source, const std::string& target) {
  touched_.insert(target);
  const bool replaced = !held.count(target) && real_->Replace(source, target);
  if (replaced) {
    // The rename is written through; data never committed under the old name is not.
    const auto it = durable_.find(source);
    durable_[target] = it == durable_.end() ? std::string() : it->second;
    durable_.erase(source);
  }
  Step();
  return replaced;
}

bool PowerCutFileSystem::Exists(const std::string& path) {
  const bool exists = real_->Exists(path);
  Step();
  return exists;
}

bool PowerCutFileSystem::Remove(const std::string& path) {
  const bool removed = !held.count(path) && real_->Remove(path);
  if (removed) durable_.erase(path);
  Step();
  return removed;
}

bool PowerCutFileSystem::Truncate(const std::string& path, std::int64_t size) {
  // Not durable until the file is committed again.
  const bool cut = real_->Truncate(path, size);
  Step();
  return cut;
}

}  // namespace quorvel::testing
