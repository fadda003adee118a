#include "service/upload/upload_journal.h"

#include "service/platform/file_contents.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace quorvel {
namespace {

constexpr const char* kJournalName = "\\quorveld.jnl";
// rcs.ini as it was while "Port" is being written into it.
constexpr const char* kLegacyProfileCopyName = "\\rcs.ini.copy";
constexpr const char* kNewSuffix = ".new";
constexpr const char* kFirstLine = "quorveld journal 1";
// A trim refused by another program's handle is tried again after 50, 100 and 200 ms.
constexpr int kTrimAttempts = 4;
constexpr std::uint32_t kFirstTrimWait = 50;
constexpr std::size_t kReadChunk = 64 * 1024;

constexpr std::uint64_t kHashStart = 14695981039346656037ull;  // 64-bit FNV-1a

std::uint64_t Hash(std::uint64_t hash, std::string_view bytes) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string HexOf(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += "0123456789abcdef"[b >> 4];
    hex += "0123456789abcdef"[b & 0xF];
  }
  return hex.empty() ? "-" : hex;
}

std::optional<std::string> BytesOf(const std::string& hex) {
  if (hex == "-") return std::string();
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    bytes += static_cast<char>(value);
  }
  return bytes;
}

// The identity of the cache's first `length` bytes, or of all of it when `length` is
// negative; nothing when it cannot be read or is shorter.
std::optional<CacheIdentity> IdentifyCache(FileSystem& files, const std::string& path,
                                           std::int64_t length) {
  FileHandle file = files.Open(path, "rb", /*denyWrite=*/false);
  if (!file) return std::nullopt;
  CacheIdentity identity{0, kHashStart};
  std::string chunk(kReadChunk, '\0');
  while (length < 0 || identity.length < length) {
    std::size_t want = chunk.size();
    if (length >= 0)
      want = static_cast<std::size_t>(std::min<std::int64_t>(want, length - identity.length));
    const std::size_t n = std::fread(chunk.data(), 1, want, file.get());
    identity.hash = Hash(identity.hash, std::string_view(chunk.data(), n));
    identity.length += static_cast<std::int64_t>(n);
    if (n < want) break;
  }
  if (std::ferror(file.get()) || (length >= 0 && identity.length < length)) return std::nullopt;
  return identity;
}

// ";Unable to write C:\WINDOWS\rcs.ini: Access denied."
std::string FailedWriteLine(const WriteFailure& failure) {
  std::string line = ";Unable to write " + failure.file;
  if (!failure.reason.empty()) line += ": " + failure.reason;
  if (line.back() != '.') line += '.';
  return line;
}

UploadBatch BatchOf(const std::string& text) {
  UploadBatch batch;
  text.copy(batch.text.data(), std::min<std::size_t>(text.size(), UploadBatch::kLength));
  return batch;
}

}  // namespace

std::string JournalText(const JournalState& state) {
  std::string body = std::string(kFirstLine) + '\n';
  for (const std::string& batch : state.owed) body += "owed " + batch + '\n';
  if (state.pending) {
    const PendingBoxDay& day = *state.pending;
    body += std::string("pending ") +
            (day.source == PendingBoxDay::Source::Cache ? "cache " : "owed ") +
            (day.phase == PendingBoxDay::Phase::Merging ? "merging " : "trimming ") +
            std::to_string(day.headCount) + ' ' + std::to_string(day.cache.length) + ' ' +
            std::to_string(day.cache.hash) + ' ' + day.batch + '\n';
    if (day.phase == PendingBoxDay::Phase::Merging) {
      body += "database " + std::to_string(day.undo.originalLength) + ' ' + day.databasePath + '\n';
      for (const ByteRun& run : day.undo.originals)
        body += "original " + std::to_string(run.offset) + ' ' + HexOf(run.bytes) + '\n';
    }
  }
  return body + "check " + std::to_string(Hash(kHashStart, body)) + "\n";
}

namespace {

// A journal line taken word by word (words are separated by one or more blanks).
class Words {
 public:
  explicit Words(std::string_view line) : rest_(line) {}
  // The next word; false at the end of the line.
  bool Next(std::string& word) {
    const std::size_t start = rest_.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    rest_.remove_prefix(start);
    const std::size_t end = std::min(rest_.find(' '), rest_.size());
    word.assign(rest_.substr(0, end));
    rest_.remove_prefix(end);
    return true;
  }
  // The next word as a whole decimal number.
  template <typename Number>
  bool Next(Number& value) {
    std::string word;
    if (!Next(word)) return false;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size();
  }
  // What follows the next blank, blanks and all: a path may hold them.
  bool Remainder(std::string& text) {
    if (rest_.empty() || rest_.front() != ' ' || rest_.size() == 1) return false;
    text.assign(rest_.substr(1));
    return true;
  }

 private:
  std::string_view rest_;
};

bool ParsePending(Words& words, PendingBoxDay& day) {
  std::string source, phase;
  if (!words.Next(source) || !words.Next(phase) || !words.Next(day.headCount) ||
      !words.Next(day.cache.length) || !words.Next(day.cache.hash) || !words.Next(day.batch))
    return false;
  day.source = source == "owed" ? PendingBoxDay::Source::Owed : PendingBoxDay::Source::Cache;
  day.phase = phase == "merging" ? PendingBoxDay::Phase::Merging : PendingBoxDay::Phase::Trimming;
  return true;
}

bool ParseOriginal(Words& words, std::vector<ByteRun>& originals) {
  ByteRun run;
  std::string hex;
  if (!words.Next(run.offset) || !words.Next(hex)) return false;
  const auto bytes = BytesOf(hex);
  if (!bytes) return false;
  run.bytes = *bytes;
  originals.push_back(run);
  return true;
}

bool ParseLine(std::string_view line, JournalState& state) {
  Words words(line);
  std::string kind;
  if (!words.Next(kind)) return false;
  if (kind == "owed") {
    state.owed.emplace_back();
    return words.Next(state.owed.back());
  }
  if (kind == "pending") {
    PendingBoxDay day;
    if (!ParsePending(words, day)) return false;
    state.pending = day;
    return true;
  }
  if (kind == "database" && state.pending)
    return words.Next(state.pending->undo.originalLength) &&
           words.Remainder(state.pending->databasePath);
  if (kind == "original" && state.pending)
    return ParseOriginal(words, state.pending->undo.originals);
  return false;
}

}  // namespace

std::optional<JournalState> ParseJournal(const std::string& text) {
  const std::size_t checkAt = text.rfind("check ");
  if (checkAt == std::string::npos || text.empty() || text.back() != '\n') return std::nullopt;
  const std::string body = text.substr(0, checkAt);
  if (text.substr(checkAt) != "check " + std::to_string(Hash(kHashStart, body)) + "\n")
    return std::nullopt;

  JournalState state;
  std::string_view rest(body);
  bool first = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // the body ends with its line end
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (first ? line != kFirstLine : !ParseLine(line, state)) return std::nullopt;
    first = false;
  }
  if (first) return std::nullopt;
  return state;
}

UploadJournal::UploadJournal(const Settings& settings, Platform& platform, LocalStore& store)
    : settings_(settings), platform_(platform), store_(store) {}

std::string UploadJournal::JournalPath() const {
  return settings_.LocalDir + kJournalName;
}

std::string UploadJournal::LegacyProfileCopyPath() const {
  return settings_.LocalDir + kLegacyProfileCopyName;
}

void UploadJournal::Load() {
  if (loaded_) return;
  loaded_ = true;
  FileSystem& files = platform_.files;
  RestoreLegacyProfile(platform_.profiles, files, LegacyProfileCopyPath());
  // Left behind by a run that stopped part way; neither is read again.
  if (files.Exists(JournalPath() + kNewSuffix)) files.Remove(JournalPath() + kNewSuffix);
  if (files.Exists(store_.ListPath())) files.Remove(store_.ListPath());

  fileOnDisk_ = files.Exists(JournalPath());
  if (!fileOnDisk_) return;
  const auto text = ReadWholeFile(files, JournalPath());
  const auto state = text ? ParseJournal(*text) : std::nullopt;
  if (state)
    state_ = *state;
  else
    store_.WriteLogLine(";Upload journal unreadable; ignored.");
  // An empty journal is what a removal lost to a power cut leaves.
  if (state_.IsEmpty() && files.Remove(JournalPath())) fileOnDisk_ = false;
}

bool UploadJournal::UsesJournalFile() {
  if (fileOnDisk_) return true;
  const std::string database = LegacyDatabasePath(platform_.profiles);
  return !database.empty() && platform_.files.Exists(database);
}

bool UploadJournal::Advance(const JournalState& next) {
  if (!UsesJournalFile() || (next.IsEmpty() && !fileOnDisk_)) {
    state_ = next;
    return true;
  }
  FileSystem& files = platform_.files;
  const std::string path = JournalPath();
  if (!ReplaceWholeFile(files, path, JournalText(next))) {
    store_.WriteLogLine(";Upload journal could not be saved.");
    return false;
  }
  fileOnDisk_ = true;
  state_ = next;
  // An empty journal has already replaced the last one, so a removal the disk loses brings
  // back nothing that could be done twice.
  if (state_.IsEmpty() && files.Remove(path)) fileOnDisk_ = false;
  return true;
}

bool UploadJournal::Merge(PendingBoxDay day, const std::string& databasePath, FileHandle database) {
  const UploadBatch batch = BatchOf(day.batch);
  if (!HasLegacyDate(batch)) return true;
  if (const auto failure =
          NoteLegacyDatabaseUse(platform_.profiles, platform_.files, LegacyProfileCopyPath()))
    store_.WriteLogLine(FailedWriteLine(*failure));
  const auto plan = PlanLegacyMerge(batch, database.get());
  if (!plan) return true;  // nothing this database can take

  day.phase = PendingBoxDay::Phase::Merging;
  day.databasePath = databasePath;
  day.undo.originalLength = plan->originalLength;
  day.undo.originals = plan->originals;
  JournalState merging = state_;
  merging.pending = day;
  if (!Advance(merging)) return false;

  const bool committed =
      WriteRuns(database.get(), plan->writes) && platform_.files.Commit(database.get());
  database.reset();
  if (committed) return true;
  store_.WriteLogLine(";Database could not be updated.");
  JournalState undone = state_;
  undone.pending.reset();
  if (RollBack(day)) Advance(undone);
  return false;
}

bool UploadJournal::RollBack(const PendingBoxDay& day) {
  FileSystem& files = platform_.files;
  FileHandle database = files.Open(day.databasePath, "r+b", /*denyWrite=*/false);
  if (!database) {
    if (!files.Exists(day.databasePath)) return true;  // gone: nothing left to undo
    store_.WriteLogLine(";Database in use; an interrupted update waits to be undone.");
    return false;
  }
  const bool longer = std::fseek(database.get(), 0, SEEK_END) == 0 &&
                      std::ftell(database.get()) > day.undo.originalLength;
  if (longer && !files.Truncate(day.databasePath, day.undo.originalLength)) return false;
  return WriteRuns(database.get(), day.undo.originals) && files.Commit(database.get());
}

bool UploadJournal::CacheStillHolds(const PendingBoxDay& day) {
  const auto identity = IdentifyCache(platform_.files, store_.CachePath(), day.cache.length);
  return identity && identity->hash == day.cache.hash;
}

bool UploadJournal::FinishTrim() {
  const PendingBoxDay& day = *state_.pending;
  if (day.source == PendingBoxDay::Source::Cache && CacheStillHolds(day)) {
    std::uint32_t wait = kFirstTrimWait;
    bool trimmed = TrimCache(settings_, platform_.files, day.headCount);
    for (int attempt = 1; !trimmed && attempt < kTrimAttempts; ++attempt, wait *= 2) {
      platform_.clock.Sleep(wait);
      trimmed = TrimCache(settings_, platform_.files, day.headCount);
    }
    if (!trimmed) {
      store_.WriteLogLine(
          ";Cache not trimmed; another program may hold it. Left for the next upload.");
      return false;
    }
  }
  JournalState done = state_;
  done.pending.reset();
  Advance(done);  // a journal still naming the trim is harmless: the cache no longer matches it
  return true;
}

void UploadJournal::MergeOwed() {
  while (!state_.owed.empty()) {
    const std::string database = LegacyDatabasePath(platform_.profiles);
    if (database.empty() || !platform_.files.Exists(database)) {
      JournalState dropped = state_;
      dropped.owed.clear();
      Advance(dropped);
      return;
    }
    FileHandle file = platform_.files.Open(database, "r+b", /*denyWrite=*/false);
    if (!file) return;  // still held: tried again at the next upload
    PendingBoxDay day;
    day.source = PendingBoxDay::Source::Owed;
    day.batch = state_.owed.front();
    if (!Merge(day, database, std::move(file))) return;
    JournalState merged = state_;
    merged.pending.reset();
    merged.owed.erase(merged.owed.begin());
    if (!Advance(merged)) return;
  }
}

bool UploadJournal::Resume() {
  Load();
  if (state_.pending && state_.pending->phase == PendingBoxDay::Phase::Merging) {
    if (!RollBack(*state_.pending)) return false;
    JournalState undone = state_;
    undone.pending.reset();
    if (!Advance(undone)) return false;
  } else if (state_.pending && !FinishTrim()) {
    return false;
  }
  MergeOwed();
  return true;
}

bool UploadJournal::Accept(const UploadBatch& batch, std::int64_t headCount) {
  Load();
  const auto identity = IdentifyCache(platform_.files, store_.CachePath(), -1);
  if (!identity) return false;  // the box-day stays in the cache and is sent again
  PendingBoxDay day;
  day.batch = batch.text.data();
  day.headCount = headCount;
  day.cache = *identity;

  JournalState trimming = state_;
  const std::string database = LegacyDatabasePath(platform_.profiles);
  if (!database.empty() && platform_.files.Exists(database)) {
    FileHandle file = platform_.files.Open(database, "r+b", /*denyWrite=*/false);
    if (!file) {
      store_.WriteLogLine(";Database in use; these counts will be added to it later.");
      trimming.owed.push_back(day.batch);
    } else if (!Merge(day, database, std::move(file))) {
      return false;
    }
  }
  trimming.pending = day;
  // The trim must wait until the journal says the merge is done or owed.
  if (!Advance(trimming)) return false;
  return FinishTrim();
}

}  // namespace quorvel
