#include "status/log_scan.h"

#include <algorithm>
#include <cctype>

#include "status/reverse_lines.h"

namespace quorvel {
namespace {

constexpr std::size_t kSerialDigits = 14;
constexpr std::size_t kHeadBytes = 64 * 1024;
// More exchanges under one poll time than any site's ports give: not matched to ports.
constexpr std::size_t kLongestPoll = 4096;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLowerHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f');
}

// `count` decimal digits at `at`; -1 when any is missing.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool Matches(std::string_view text, std::size_t at, char c) {
  return at < text.size() && text[at] == c;
}

// A serial of 14 lower-case hex digits at the start of `text`; empty otherwise.
std::string SerialAt(std::string_view text) {
  if (text.size() < kSerialDigits) return {};
  for (std::size_t i = 0; i < kSerialDigits; ++i)
    if (!IsLowerHex(text[i])) return {};
  return std::string(text.substr(0, kSerialDigits));
}

int NumberAfter(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  long value = 0;
  for (; i < text.size() && IsDigit(text[i]) && value < 1000000000; ++i)
    value = value * 10 + (text[i] - '0');
  return static_cast<int>(value);
}

// What is known of one exchange while its lines are read back to its first line.
struct Exchange {
  std::optional<UploadResult> upload;
  int response = 0;
  std::optional<std::string> request;
  bool ended = false;
  CalendarTime endedAt = 0;
  int records = -1;
  std::optional<Cleared> cleared;
  std::string failure;
  std::optional<CalendarTime> failureAt;
  std::string serial;
  std::optional<ClockPass> clock;
  int unopenedPort = -1;
};

// One port's exchange of a poll, kept until the poll's first exchange is read.
struct PollExchange {
  CalendarTime poll = 0;
  std::string serial;
  std::optional<CalendarTime> downloadEnded;
  int unopenedPort = -1;
};

class LogReader {
 public:
  LogReader(const Clock& clock, const LogQuestions& questions, LogFacts& facts)
      : times_(clock), questions_(questions), facts_(facts) {}

  void Take(std::string_view line);
  bool Answered() const;
  // At the log's start the poll read last is whole; anywhere else it may be cut.
  void Finish(bool reachedStart) {
    if (reachedStart) ClosePoll();
  }
  std::optional<CalendarTime> oldestSeen() const { return oldestSeen_; }

 private:
  std::optional<CalendarTime> Noted(std::optional<CalendarTime> t) {
    if (t && (!oldestSeen_ || *t < *oldestSeen_)) oldestSeen_ = t;
    if (t && (!facts_.newest || *t > *facts_.newest)) facts_.newest = t;
    return t;
  }
  bool PastHorizon() const {
    return questions_.horizon && oldestSeen_ && *oldestSeen_ < *questions_.horizon;
  }
  void AddToPoll(CalendarTime poll);
  void ClosePoll();
  bool MatchPorts(std::vector<int>& portOfExchange) const;
  void TakeRemark(std::string_view line, bool firstLine);
  void EndDownloadExchange(CalendarTime at);
  void EndUpload(CalendarTime at);
  void ClockResult(const std::string& result);

  LogTimes times_;
  const LogQuestions& questions_;
  LogFacts& facts_;
  Exchange x_;
  bool anyLine_ = false;
  bool successFound_ = false;
  int boxesWithoutDownload_ = 0;
  std::size_t serialsAnswered_ = 0;  // of questions_.serials, those with their download found
  std::optional<CalendarTime> oldestSeen_;
  std::vector<PollExchange> poll_;  // the current poll's exchanges, the last one first
  bool pollTooLong_ = false;
  bool newestPoll_ = true;                // the poll read first may be cut short by the log's end
  std::map<std::string, int> portOfBox_;  // where the newer polls matched found each box
};

void LogReader::ClockResult(const std::string& result) {
  if (!x_.clock) x_.clock = ClockPass{0, result};
}

void LogReader::Take(std::string_view line) {
  const bool firstLine = !anyLine_;
  anyLine_ = true;
  if (line.empty()) {
    ++facts_.unreadableLines;
  } else if (line[0] == ';') {
    TakeRemark(line, firstLine);
  } else if (StartsWith(line, "record")) {
    if (x_.records < 0) x_.records = NumberAfter(line.substr(6));
  } else if (StartsWith(line, "Download initiated from ")) {
    x_.serial = SerialAt(line.substr(24));
  } else if (line != ": Bad checksum." && !StartsWith(line, "=*=*=*")) {
    ++facts_.unreadableLines;
  }
}

// The lines beginning with ";", the most frequent first.
void LogReader::TakeRemark(std::string_view line, bool firstLine) {
  if (StartsWith(line, ";=====") || line == ";") {
  } else if (StartsWith(line, ";Download initiated at ")) {
    if (auto t = Noted(times_.Short(line.substr(23)))) EndDownloadExchange(*t);
    x_ = Exchange{};
  } else if (StartsWith(line, ";Serial #")) {
    if (x_.serial.empty()) x_.serial = SerialAt(line.substr(9));
  } else if (StartsWith(line, ";start ")) {
    Noted(times_.Long(line.substr(7)));
  } else if (StartsWith(line, ";ended ")) {
    if (auto t = Noted(times_.Long(line.substr(7)))) {
      x_.ended = true;
      x_.endedAt = *t;
    }
  } else if (line == ";Data successfully cleared.") {
    x_.cleared = Cleared::Yes;
  } else if (line == ";clearing data...") {
    if (!x_.cleared) x_.cleared = Cleared::Unknown;
    x_.failure.clear();  // not responding to the clearing: the download itself had ended
  } else if (StartsWith(line, ";Upload initiated at ")) {
    if (auto t = Noted(times_.Short(line.substr(21)))) EndUpload(*t);
    x_ = Exchange{};
    ClosePoll();  // an upload runs only between polls
  } else if (StartsWith(line, "; Request ")) {
    x_.request = std::string(line.substr(10, 64));
  } else if (StartsWith(line, ";Upload successful.  Server response ")) {
    x_.upload = UploadResult::Accepted;
    x_.response = NumberAfter(line.substr(37));
  } else if (StartsWith(line, ";Upload failed.  Server response ")) {
    x_.upload = UploadResult::Refused;
    x_.response = NumberAfter(line.substr(33));
  } else if (line == ";Upload aborted. Nothing to send.") {
    x_.upload = UploadResult::NothingToSend;
  } else if (line == ";Cleaning up local cache file.  No send.") {
    x_.upload = UploadResult::CleanedUp;
  } else if (line == ";Error clearing data." || line == ";Records not stored; unit not cleared." ||
             line == ";Cache not saved to disk; unit not cleared.") {
    x_.cleared = Cleared::No;
  } else if (line == ";The unit is not responding.") {
    x_.failure = "not responding";
    ClockResult("not responding");
  } else if (StartsWith(line, ";failure time ")) {
    x_.failureAt = Noted(times_.Long(line.substr(14)));
  } else if (line == ";Error downloading data. The data download is incomplete.") {
    x_.failure = "download aborted";
  } else if (line == ";Error downloading data.") {
    x_.failure = "download refused";
  } else if (line == ";Error: unable to initiate download.") {
    x_.failure = "unable to initiate download";
  } else if (line == ";The unit is not responding to AutoSerial.") {
    x_.failure = "not responding to AutoSerial";
  } else if (StartsWith(line, ";Bad response to GetSerial: ")) {
    x_.failure = "bad response to GetSerial";
  } else if (StartsWith(line, ";Unable to open com port ")) {
    x_.unopenedPort = std::min(NumberAfter(line.substr(25)), 9999);
  } else if (line == ";The remote time has been set to system time.") {
    ClockResult("set");
  } else if (line == ";Bad response to Set Time command.") {
    ClockResult("bad response");
  } else if (StartsWith(line, ";Service shutdown at ")) {
    const auto t = Noted(times_.Short(line.substr(21)));
    if (firstLine && t) facts_.shutdownAt = t;
    x_ = Exchange{};
    ClosePoll();
  } else {
    ++facts_.unreadableLines;
  }
}

void LogReader::EndDownloadExchange(CalendarTime at) {
  if (!facts_.lastPoll) facts_.lastPoll = at;
  AddToPoll(at);
  const bool beforeAnyDownload = !facts_.lastDownloadAt;
  if (x_.unopenedPort >= 0) {
    if (beforeAnyDownload) facts_.portFailuresSince[x_.unopenedPort].Add("unable to open", at);
    return;
  }
  if (x_.serial.empty()) {
    if (!x_.failure.empty() && beforeAnyDownload) facts_.unitFailuresSince.Add(x_.failure, at);
    return;
  }
  const auto [entry, isNew] = facts_.boxes.try_emplace(x_.serial);
  BoxFacts& box = entry->second;
  if (box.lastDownload) return;  // an older exchange of a box already answered
  if (isNew) ++boxesWithoutDownload_;
  if (x_.ended) {
    box.lastDownload =
        Download{x_.endedAt, std::max(x_.records, 0), x_.cleared.value_or(Cleared::Unknown)};
    if (!facts_.lastDownloadAt) facts_.lastDownloadAt = x_.endedAt;
    --boxesWithoutDownload_;
    if (questions_.serials.count(x_.serial) != 0) ++serialsAnswered_;
    return;
  }
  box.failuresSince.Add(x_.failure.empty() ? "download interrupted" : x_.failure,
                        x_.failureAt.value_or(at));
}

// Every exchange of one poll carries the poll's start time.
void LogReader::AddToPoll(CalendarTime poll) {
  if (!poll_.empty() && poll_.back().poll != poll) ClosePoll();
  if (poll_.size() >= kLongestPoll) {
    pollTooLong_ = true;
    return;
  }
  PollExchange e;
  e.poll = poll;
  e.serial = x_.serial;
  if (x_.ended && x_.unopenedPort < 0) e.downloadEnded = x_.endedAt;
  e.unopenedPort = x_.unopenedPort;
  poll_.push_back(std::move(e));
}

// The k-th exchange of a poll is on the k-th selected port, counting round again when polls
// follow each other within a minute. Each poll before the newest visits every port; the ports
// that would not open and the boxes met must agree with that order, and with where the newer
// polls found each box. Otherwise the poll is not matched (the ports selected changed, logging
// was switched on mid-poll, the service was stopped mid-poll, a box was moved).
bool LogReader::MatchPorts(std::vector<int>& portOfExchange) const {
  const std::vector<int>& ports = questions_.ports;
  if (ports.empty() || pollTooLong_) return false;
  if (!newestPoll_ && poll_.size() % ports.size() != 0) return false;
  std::map<std::string, int> portOfBox;
  portOfExchange.resize(poll_.size());
  for (std::size_t k = 0; k < poll_.size(); ++k) {
    const PollExchange& e = poll_[poll_.size() - 1 - k];
    const int port = ports[k % ports.size()];
    if (e.unopenedPort >= 0 && e.unopenedPort != port) return false;
    if (!e.serial.empty() && portOfBox.emplace(e.serial, port).first->second != port) return false;
    const auto known = e.serial.empty() ? portOfBox_.end() : portOfBox_.find(e.serial);
    if (known != portOfBox_.end() && known->second != port) return false;
    portOfExchange[poll_.size() - 1 - k] = port;
  }
  return true;
}

void LogReader::ClosePoll() {
  if (poll_.empty()) return;
  std::vector<int> portOf;
  if (MatchPorts(portOf)) {
    for (std::size_t i = 0; i < poll_.size(); ++i) {
      const PollExchange& e = poll_[i];
      PortFacts& port = facts_.ports[portOf[i]];
      if (!e.serial.empty()) portOfBox_.emplace(e.serial, portOf[i]);
      port.lastExchange = std::max(port.lastExchange, e.poll);
      if (e.downloadEnded && (!port.lastDownload || *e.downloadEnded > *port.lastDownload)) {
        port.lastDownload = e.downloadEnded;
        port.serial = e.serial;
      }
    }
  } else if (!facts_.unmatchedPoll || poll_.front().poll > *facts_.unmatchedPoll) {
    facts_.unmatchedPoll = poll_.front().poll;
  }
  poll_.clear();
  pollTooLong_ = false;
  newestPoll_ = false;
}

void LogReader::EndUpload(CalendarTime at) {
  if (x_.clock && !facts_.lastClockPass) facts_.lastClockPass = ClockPass{at, x_.clock->result};
  UploadAttempt attempt;
  attempt.at = at;
  attempt.result = x_.upload.value_or(UploadResult::NoResult);
  attempt.response = x_.response;
  if (x_.request) {
    const std::string& path = *x_.request;
    if (StartsWith(path, "/submitrs?")) {
      attempt.scrambled = true;
    } else if (StartsWith(path, "/submitr?")) {
      const std::string_view rest = std::string_view(path).substr(9);
      attempt.serial = SerialAt(rest);
      if (!attempt.serial.empty() && Digits(rest, kSerialDigits, 8) >= 0)
        attempt.day = std::string(rest.substr(kSerialDigits, 8));
    }
  }
  if (!facts_.lastAttempt) facts_.lastAttempt = attempt;
  if (successFound_) return;
  if (attempt.result == UploadResult::Accepted && attempt.response == 200) {
    facts_.lastDelivery = attempt;
    successFound_ = true;
  } else if (attempt.result == UploadResult::Accepted || attempt.result == UploadResult::Refused) {
    ++facts_.undeliveredSince;
    if (attempt.response == 201) ++facts_.answered201Since;
  }
}

// Past the horizon whatever is still missing is older than any threshold; only boxes
// missing from the ports are looked for further, so that they can be named.
bool LogReader::Answered() const {
  const bool rest = successFound_ && facts_.lastPoll && facts_.lastDownloadAt &&
                    boxesWithoutDownload_ == 0 && serialsAnswered_ == questions_.serials.size();
  if (!rest && !PastHorizon()) return false;
  const std::size_t boxesWithDownload =
      facts_.boxes.size() - static_cast<std::size_t>(boxesWithoutDownload_);
  return boxesWithDownload >= questions_.ports.size();
}

// The first time at the head of the log: how far back the log reaches.
std::optional<CalendarTime> FirstTime(SharedFile& log, const Clock& clock) {
  LogTimes times(clock);
  std::string head(static_cast<std::size_t>(std::min<std::int64_t>(log.Size(), kHeadBytes)), '\0');
  head.resize(log.ReadAt(0, head.data(), head.size()));
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t end = head.find('\n', start);
    if (end == std::string::npos) break;  // the rest is cut off
    std::string_view line(head.data() + start, end - start);
    static constexpr std::string_view kShort[] = {";Download initiated at ",
                                                  ";Upload initiated at ", ";Service shutdown at "};
    static constexpr std::string_view kLong[] = {";start ", ";ended ", ";failure time "};
    for (auto prefix : kShort)
      if (StartsWith(line, prefix))
        if (auto t = times.Short(line.substr(prefix.size()))) return t;
    for (auto prefix : kLong)
      if (StartsWith(line, prefix))
        if (auto t = times.Long(line.substr(prefix.size()))) return t;
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace

void Failures::Add(const std::string& what, CalendarTime at) {
  if (count == 0) {  // read from the end back: the first one met is the last one
    last = what;
    lastAt = at;
  }
  ++count;
}

std::optional<CalendarTime> LogTimes::At(int year, int month, int day, int hour, int minute,
                                         int second) {
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  const long long key = ((static_cast<long long>(year) * 100 + month) * 100 + day) * 100 + hour;
  if (key != hourKey_) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    hourStart_ = clock_.FromLocal(local);
    hourKey_ = key;
  }
  return hourStart_ + minute * 60 + second;
}

std::optional<CalendarTime> LogTimes::Short(std::string_view text) {
  // "%y/%m/%d %H%M"
  const int yy = Digits(text, 0, 2), month = Digits(text, 3, 2), day = Digits(text, 6, 2);
  const int hour = Digits(text, 9, 2), minute = Digits(text, 11, 2);
  if (yy < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || !Matches(text, 2, '/') ||
      !Matches(text, 5, '/') || !Matches(text, 8, ' '))
    return std::nullopt;
  return At(yy < 70 ? 2000 + yy : 1900 + yy, month, day, hour, minute, 0);
}

std::optional<CalendarTime> LogTimes::Long(std::string_view text) {
  // "%Y/%m/%d @ %H:%M:%S"
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const int hour = Digits(text, 13, 2), minute = Digits(text, 16, 2), second = Digits(text, 19, 2);
  if (year < 1970 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 ||
      !Matches(text, 4, '/') || !Matches(text, 7, '/') || text.substr(10, 3) != " @ " ||
      !Matches(text, 15, ':') || !Matches(text, 18, ':'))
    return std::nullopt;
  return At(year, month, day, hour, minute, second);
}

LogFacts ScanLog(SharedFile& log, const Clock& clock, const LogQuestions& questions) {
  LogFacts facts;
  facts.outcome = OpenOutcome::Opened;
  facts.size = log.Size();
  LogReader reader(clock, questions, facts);
  ReverseLineReader lines(log);
  std::string_view line;
  bool reachedStart = true;
  while (lines.Previous(line)) {
    if (lines.unfinished()) {
      facts.unfinishedLastLine = true;  // being written, or cut off: not read
      continue;
    }
    if (lines.cut()) {
      ++facts.unreadableLines;
      continue;
    }
    reader.Take(line);
    // Once the answers are in, what is left of the file is read only when it is at hand.
    if (lines.bytesRead() < facts.size &&
        (reader.Answered() || lines.bytesRead() >= questions.tailBudget)) {
      facts.budgetSpent = !reader.Answered();
      reachedStart = false;
      break;
    }
  }
  reader.Finish(reachedStart);
  facts.bytesRead = lines.bytesRead();
  facts.readWhole = reachedStart;
  facts.oldestRead = reader.oldestSeen();
  facts.oldest = reachedStart ? reader.oldestSeen() : FirstTime(log, clock);
  if (!facts.oldest) facts.oldest = reader.oldestSeen();
  return facts;
}

}  // namespace quorvel
