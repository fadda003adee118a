#pragma once
// What follows the server's acceptance of a box-day: its counts are added to the legacy
// database exactly once and it is trimmed from the head of the cache, however the steps
// between are cut short (a trim refused, the program killed, the power lost).
//
// With a database, the journal file quorveld.jnl in the cache's folder makes each step
// durable before the next begins:
//   1. the bytes the merge will overwrite and the database's length (phase "merging"),
//   2. the merged database, committed to the disk,
//   3. phase "trimming" (or, when the database exists but cannot be opened, the box-day
//      queued as "owed" to it),
//   4. the trimmed cache, replaced in one written-through step,
//   5. the journal without the box-day.
// On resuming, a merge still in phase "merging" is rolled back (the box-day is still in the
// cache and is sent again), and a trim still in phase "trimming" is finished without sending
// the box-day again. Owed box-days are merged the same way once the database opens. Every
// new journal is written beside the old one, committed, and then put in its place in one step.
//
// Without a database nothing is written: a pending trim is only remembered until it is done.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/platform/platform.h"
#include "service/settings/settings.h"
#include "service/store/local_store.h"
#include "service/upload/legacy_database.h"
#include "service/upload/upload_batch.h"

namespace quorvel {

// The cache as it was when a batch was read from its head: its length and a hash of its bytes.
struct CacheIdentity {
  std::int64_t length = 0;
  std::uint64_t hash = 0;
};

// An accepted box-day on its way into the database and out of the cache.
struct PendingBoxDay {
  enum class Source { Cache, Owed };
  enum class Phase { Merging, Trimming };
  Source source = Source::Cache;
  Phase phase = Phase::Trimming;
  std::string batch;           // the batch text
  std::int64_t headCount = 0;  // bytes at the head of the cache it covers (source Cache)
  CacheIdentity cache;         // the cache it was read from (source Cache)
  std::string databasePath;    // phase Merging: the database and what undoes the merge
  LegacyMergePlan undo;        // only originalLength and originals are kept
};

struct JournalState {
  std::vector<std::string> owed;  // accepted box-days not yet added to the database
  std::optional<PendingBoxDay> pending;
  bool IsEmpty() const { return owed.empty() && !pending; }
};

// The journal file's text, and back; nothing when the text is not a whole journal.
std::string JournalText(const JournalState& state);
std::optional<JournalState> ParseJournal(const std::string& text);

class UploadJournal {
 public:
  UploadJournal(const Settings& settings, Platform& platform, LocalStore& store);

  // Finishes what an earlier accepted box-day left undone, then merges owed box-days while
  // the database opens. False while the upload step must not send anything: a trim is still
  // refused, or a cut-off merge cannot be rolled back yet.
  bool Resume();

  // The server accepted `batch`, read from the first `headCount` bytes of the cache: adds it
  // to the database and trims it from the cache. False when the trim is left pending.
  bool Accept(const UploadBatch& batch, std::int64_t headCount);

  const JournalState& state() const { return state_; }

 private:
  void Load();
  // Makes `next` the journal, on the disk first when there is a journal file.
  bool Advance(const JournalState& next);
  bool UsesJournalFile();
  // Adds `day` to the open database under the journal; true when the merge is committed or
  // the database takes nothing, false when it was left unchanged or waits to be rolled back.
  bool Merge(PendingBoxDay day, const std::string& databasePath, FileHandle database);
  bool FinishTrim();
  bool RollBack(const PendingBoxDay& day);
  void MergeOwed();
  bool CacheStillHolds(const PendingBoxDay& day);
  std::string JournalPath() const;
  std::string LegacyProfileCopyPath() const;

  const Settings& settings_;
  Platform& platform_;
  LocalStore& store_;
  JournalState state_;
  bool loaded_ = false;
  bool fileOnDisk_ = false;
};

}  // namespace quorvel
