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

// A file that is rewritten in place (the profile functions empty it, then write it out) is
// kept whole across a kill or power cut by a committed copy that stands while it is rewritten.
//
// Before the rewrite: the file as it is now (a missing one as empty) becomes the copy at
// `copyPath`. False when the file cannot be read or the copy not written: then the file
// must not be rewritten.
bool KeepCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath);
// After the rewrite: the file is committed to the disk, then the copy goes. False (the copy
// kept) when either fails.
bool DropCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath);
// A copy still there means a rewrite was cut off or failed: the file gets the copy's text
// back, written in place so that it keeps its owner and rights, and committed; then the copy
// goes. True when no copy is left.
bool RestoreCommittedCopy(FileSystem& files, const std::string& path, const std::string& copyPath);

}  // namespace quorvel
