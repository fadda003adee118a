#include <doctest.h>

#include <string>

#include "service/upload/upload_journal.h"

namespace quorvel {
namespace {

JournalState MergingState() {
  JournalState state;
  state.owed = {"0123456789abcd20070121" + std::string(384, '0')};
  PendingBoxDay day;
  day.phase = PendingBoxDay::Phase::Merging;
  day.batch = "0123456789abcd20070122" + std::string(384, '1');
  day.headCount = 78;
  day.cache = {117, 0xFEDCBA9876543210ull};
  day.databasePath = "C:\\Program Files\\Counts\\counts db.dat";
  day.undo.originalLength = 34;
  day.undo.originals = {
      {0, std::string("\x02\x00", 2)}, {16, std::string("\n\r\0 x", 5)}, {40, ""}};
  state.pending = day;
  return state;
}

TEST_CASE("the journal's text gives back what was written, and nothing when it is damaged") {
  const JournalState state = MergingState();
  const std::string text = JournalText(state);
  const auto back = ParseJournal(text);
  REQUIRE(back);
  CHECK(back->owed == state.owed);
  REQUIRE(back->pending);
  CHECK(back->pending->phase == PendingBoxDay::Phase::Merging);
  CHECK(back->pending->source == PendingBoxDay::Source::Cache);
  CHECK(back->pending->batch == state.pending->batch);
  CHECK(back->pending->headCount == 78);
  CHECK(back->pending->cache.hash == 0xFEDCBA9876543210ull);
  CHECK(back->pending->databasePath == state.pending->databasePath);
  CHECK(back->pending->undo.originalLength == 34);
  REQUIRE(back->pending->undo.originals.size() == 3);
  CHECK(back->pending->undo.originals[1].bytes == std::string("\n\r\0 x", 5));
  CHECK(back->pending->undo.originals[2].bytes.empty());

  SUBCASE("one byte changed") {
    std::string damaged = text;
    damaged[damaged.find("merging")] = 'n';
    CHECK_FALSE(ParseJournal(damaged));
  }
  SUBCASE("cut short") {
    CHECK_FALSE(ParseJournal(text.substr(0, text.size() / 2)));
  }
  SUBCASE("empty") {
    CHECK_FALSE(ParseJournal(""));
  }
}

}  // namespace
}  // namespace quorvel
