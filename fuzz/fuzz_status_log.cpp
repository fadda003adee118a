// The status program's readers on any bytes: quorveld.log read back from its end, the same
// bytes as quorveld.dat, and the report written from what was found.
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "status/reverse_lines.h"
#include "status/status_check.h"
#include "tests/fakes/fakes.h"

namespace {

using namespace quorvel;

// The lines as a forward reader splits them: LF ends a line, a CR before it is dropped, and
// a last line without its LF still counts.
std::vector<std::string> ForwardLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    std::string line = text.substr(start, end - start);
    if (ended && !line.empty() && line.back() == '\r') line.pop_back();
    if (!ended && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void CheckReverseLines(const std::string& text) {
  TextFile file(text);
  ReverseLineReader reader(file);
  std::vector<std::string> forward = ForwardLines(text);
  std::string_view line;
  std::size_t n = 0;
  while (reader.Previous(line)) {
    FUZZ_CHECK(n < forward.size(), "more lines back than forward (%zu)", forward.size());
    const std::string& expected = forward[forward.size() - 1 - n];
    if (reader.cut()) {
      FUZZ_CHECK(expected.size() >= ReverseLineReader::kLongestLine, "line %zu cut at %zu bytes", n,
                 expected.size());
    } else {
      FUZZ_CHECK(std::string(line) == expected, "line %zu back differs", n);
    }
    ++n;
  }
  FUZZ_CHECK(n == forward.size(), "%zu lines back, %zu forward", n, forward.size());
}

bool PrintableWithLineFeeds(const std::string& text) {
  for (unsigned char c : text)
    if ((c < 0x20 && c != '\n') || c >= 0x7F) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckReverseLines(bytes);

  testing::FakeClock clock;
  TextFile cacheFile(bytes);
  SiteStatus status;
  status.serviceRunning = size % 2 == 0;
  status.now = clock.Now();
  status.cache = ScanCache(cacheFile);
  const std::int64_t lines = static_cast<std::int64_t>(ForwardLines(bytes).size());
  FUZZ_CHECK(status.cache.records + status.cache.notRecords == lines,
             "cache: %lld records and %lld others of %lld lines",
             static_cast<long long>(status.cache.records),
             static_cast<long long>(status.cache.notRecords), static_cast<long long>(lines));

  TextFile logFile(bytes);
  LogQuestions questions;
  questions.serials = status.cache.Serials();
  for (std::size_t port = 0; port < size % 4; ++port) {
    questions.ports.push_back(static_cast<int>(port));
    status.settings.PortSelected[port] = 1;
  }
  if (size % 3 == 0) questions.horizon = clock.Now() - 3600;
  questions.tailBudget = 1 + static_cast<std::int64_t>(size % 200000);
  status.log = ScanLog(logFile, clock, questions);
  const LogFacts& log = status.log;
  FUZZ_CHECK(log.size == static_cast<std::int64_t>(size), "size %lld",
             static_cast<long long>(log.size));
  FUZZ_CHECK(log.bytesRead <= log.size, "read %lld of %lld", static_cast<long long>(log.bytesRead),
             static_cast<long long>(log.size));
  FUZZ_CHECK(!log.readWhole || log.bytesRead == log.size, "read whole but %lld of %lld",
             static_cast<long long>(log.bytesRead), static_cast<long long>(log.size));
  FUZZ_CHECK(!log.lastDelivery || log.lastAttempt, "a delivery without an attempt");
  FUZZ_CHECK(log.undeliveredSince >= 0 && log.unreadableLines >= 0, "negative counts");
  for (const auto& [serial, box] : log.boxes) {
    FUZZ_CHECK(serial.size() == 14, "serial '%s'", serial.c_str());
    FUZZ_CHECK(!box.lastDownload || box.lastDownload->records >= 0, "negative records");
  }

  const Judgement judgement = Judge(status);
  FUZZ_CHECK(static_cast<int>(judgement.verdict) >= 0 && static_cast<int>(judgement.verdict) <= 3,
             "verdict %d", static_cast<int>(judgement.verdict));
  FUZZ_CHECK(judgement.verdict != Verdict::Ok || log.oldestRead, "OK without a time in the log");
  FUZZ_CHECK(!log.budgetSpent || log.bytesRead >= questions.tailBudget, "budget spent early");
  FUZZ_CHECK(log.bytesRead < questions.tailBudget + 2 * 65536 || log.readWhole, "read %lld",
             static_cast<long long>(log.bytesRead));
  FUZZ_CHECK(status.serviceRunning || judgement.verdict == Verdict::Critical,
             "a stopped service is not critical");
  const std::string text = StatusText(status, judgement, clock);
  FUZZ_CHECK(text.rfind("QUORVEL ", 0) == 0 && text.back() == '\n', "text '%s'", text.c_str());
  const std::string json = StatusJson(status, judgement, clock);
  FUZZ_CHECK(PrintableWithLineFeeds(json) && json.find('\n') == json.size() - 1,
             "json not one printable line: %s", json.c_str());
  return 0;
}
