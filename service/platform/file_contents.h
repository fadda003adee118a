#pragma once
// Whole small files (journals, notes, settings) read and written through a FileSystem.
#include <optional>
#include <string>

#include "service/platform/file_system.h"

namespace quorvel {

// The whole file; nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(FileSystem& files, const std::string& path);

// Makes `text` the file at `path` in one step: written beside it as `path`.new, committed to
// the disk, then put in its place; a cut at any moment leaves the old file or the new one,
// whole. False (and no .new left) when any step failed.
bool ReplaceWholeFile(FileSystem& files, const std::string& path, const std::string& text);

}  // namespace quorvel
