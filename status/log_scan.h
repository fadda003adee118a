#pragma once
// What quorveld.log tells about the site: the log is read from its end back, only as far
// as needed to answer (last upload, last delivery, last poll, each box's last download).
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/platform/clock.h"
#include "status/status_files.h"

namespace quorvel {

// A time the log writes in the PC's local time: "yy/mm/dd HHMM" or "yyyy/mm/dd @ HH:MM:SS".
std::optional<CalendarTime> ReadShortTime(std::string_view text, const Clock& clock);
std::optional<CalendarTime> ReadLongTime(std::string_view text, const Clock& clock);

enum class UploadResult { Accepted, Refused, NothingToSend, CleanedUp, NoResult };

struct UploadAttempt {
  CalendarTime at = 0;
  UploadResult result = UploadResult::NoResult;
  int response = 0;        // the server's response number, when there was one
  std::string serial;      // from a plain request; empty when scrambled or not sent
  std::string day;         // yyyymmdd, likewise
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

struct ClockPass {
  CalendarTime at = 0;  // the upload it followed
  std::string result;   // "set", "bad response", "not responding"
};

struct LogFacts {
  OpenOutcome outcome = OpenOutcome::Missing;
  std::int64_t size = 0;
  std::int64_t bytesRead = 0;
  bool readWhole = false;
  std::optional<CalendarTime> oldest;  // the first time the log holds
  std::optional<UploadAttempt> lastAttempt;
  std::optional<UploadAttempt> lastSuccess;
  int failedUploadsSince = 0;  // refused since the last success
  std::optional<CalendarTime> lastPoll;
  std::optional<CalendarTime> lastDownloadAt;  // newest completed download of any box
  std::map<std::string, BoxFacts> boxes;       // by serial
  Failures unitFailuresSince;  // not tied to a serial (AutoSerial, GetSerial), since lastDownloadAt
  std::map<int, Failures> portFailuresSince;  // "unable to open com port N", since lastDownloadAt
  std::optional<ClockPass> lastClockPass;
  std::optional<CalendarTime> shutdownAt;  // when the log ends with the shutdown lines
  bool unfinishedLastLine = false;
  int unreadableLines = 0;  // lines the service does not write (garbage, cut lines)
};

// Reads the log back from its end until every question is answered (each serial in
// `cacheSerials` and every serial met has its last completed download) or the start is reached.
LogFacts ScanLog(SharedFile& log, const Clock& clock, const std::set<std::string>& cacheSerials);

}  // namespace quorvel
