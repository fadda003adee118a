#pragma once
// What quorveld.log tells about the site: the log is read from its end back, only as far
// as needed to answer (last upload, last delivery, last poll, each box's last download), and
// never further than a tail budget.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/platform/clock.h"
#include "status/status_files.h"

namespace quorvel {

// The times the log writes in the PC's local time. The platform converts each hour of the
// calendar once: a long log holds millions of times.
class LogTimes {
 public:
  explicit LogTimes(const Clock& clock) : clock_(clock) {}
  std::optional<CalendarTime> Short(std::string_view text);  // "yy/mm/dd HHMM"
  std::optional<CalendarTime> Long(std::string_view text);   // "yyyy/mm/dd @ HH:MM:SS"

 private:
  std::optional<CalendarTime> At(int year, int month, int day, int hour, int minute, int second);

  const Clock& clock_;
  long long hourKey_ = -1;
  CalendarTime hourStart_ = 0;
};

enum class UploadResult { Accepted, Refused, NothingToSend, CleanedUp, NoResult };

struct UploadAttempt {
  CalendarTime at = 0;
  UploadResult result = UploadResult::NoResult;
  int response = 0;    // the server's response number, when there was one
  std::string serial;  // from a plain request; empty when scrambled or not sent
  std::string day;     // yyyymmdd, likewise
  bool scrambled = false;
};

enum class Cleared { Yes, No, Unknown };

struct Download {
  CalendarTime at = 0;  // when it ended
  int records = 0;
  Cleared cleared = Cleared::Unknown;
};

struct Failures {
  int count = 0;
  std::string last;  // what the last one was, e.g. "not responding"
  CalendarTime lastAt = 0;
  void Add(const std::string& what, CalendarTime at);
};

struct BoxFacts {
  std::optional<Download> lastDownload;
  Failures failuresSince;  // since its last completed download (in the part read)
};

// A selected port as the order of the poll's exchanges tells it: each poll visits the
// selected ports in ascending order, one exchange each.
struct PortFacts {
  CalendarTime lastExchange = 0;             // the poll of its newest exchange read
  std::optional<CalendarTime> lastDownload;  // when its newest completed download ended
  std::string serial;                        // the box of that download
};

struct ClockPass {
  CalendarTime at = 0;  // the upload it followed
  std::string result;   // "set", "bad response", "not responding"
};

struct LogFacts {
  OpenOutcome outcome = OpenOutcome::Missing;
  std::int64_t size = 0;
  std::int64_t bytesRead = 0;
  bool readWhole = false;
  bool budgetSpent = false;                // reading stopped at the tail budget, not at the answers
  std::optional<CalendarTime> oldest;      // the first time the log holds
  std::optional<CalendarTime> oldestRead;  // the first time of the part read
  std::optional<CalendarTime> newest;      // the latest time of the part read
  std::optional<UploadAttempt> lastAttempt;
  // Only a 200 trims the cache: a 201 is logged as successful, yet the batch goes again.
  std::optional<UploadAttempt> lastDelivery;
  int undeliveredSince = 0;  // uploads refused or answered 201 since the last delivery
  int answered201Since = 0;  // of those, the 201s
  std::optional<CalendarTime> lastPoll;
  std::optional<CalendarTime> lastDownloadAt;  // newest completed download of any box
  std::map<std::string, BoxFacts> boxes;       // by serial
  Failures unitFailuresSince;  // not tied to a serial (AutoSerial, GetSerial), since lastDownloadAt
  std::map<int, Failures> portFailuresSince;  // "unable to open com port N", since lastDownloadAt
  std::map<int, PortFacts> ports;             // by port index, from the polls read whole
  // The newest poll whose exchanges could not be matched to ports (the order did not fit).
  std::optional<CalendarTime> unmatchedPoll;
  std::optional<ClockPass> lastClockPass;
  std::optional<CalendarTime> shutdownAt;  // when the log ends with the shutdown lines
  bool unfinishedLastLine = false;
  int unreadableLines = 0;  // lines the service does not write (garbage, cut lines)
};

constexpr std::int64_t kLogTailBudget = 32 * 1024 * 1024;

// What the log is read for: the boxes whose last download must be found.
struct LogQuestions {
  std::set<std::string> serials;  // those with records in the cache
  std::vector<int> ports;         // the selected port indices, ascending
  // Once the part read reaches back before this time, nothing older changes the verdict.
  std::optional<CalendarTime> horizon;
  std::int64_t tailBudget = kLogTailBudget;  // the most bytes read back from the end
};

// Reads the log back from its end until every question is answered (the last delivery, the
// last poll, and the last completed download of every serial asked for, of every serial met,
// and of at least as many boxes as ports are selected; past the horizon only the latter), the
// tail budget is spent or its start is reached.
LogFacts ScanLog(SharedFile& log, const Clock& clock, const LogQuestions& questions);

}  // namespace quorvel
