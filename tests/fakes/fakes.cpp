#include "tests/fakes/fakes.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "service/platform/file_contents.h"

namespace quorvel::testing {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

CalendarTime UtcTime(int year, int month, int day, int hour, int minute, int second) {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::tm FakeClock::ToLocal(CalendarTime t) const {
  std::int64_t days = t / 86400;
  std::int64_t rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from days (inverse of DaysFromCivil).
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  std::tm tm{};
  tm.tm_year = static_cast<int>(y - 1900);
  tm.tm_mon = static_cast<int>(m - 1);
  tm.tm_mday = static_cast<int>(d);
  tm.tm_hour = static_cast<int>(rest / 3600);
  tm.tm_min = static_cast<int>(rest / 60 % 60);
  tm.tm_sec = static_cast<int>(rest % 60);
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  tm.tm_yday = static_cast<int>(DaysFromCivil(y, m, d) - DaysFromCivil(y, 1, 1));
  tm.tm_isdst = 0;
  return tm;
}

CalendarTime FakeClock::FromLocal(std::tm& local) const {
  // Normalise months first, then let days, hours, minutes and seconds carry.
  std::int64_t year = local.tm_year + 1900 + local.tm_mon / 12;
  int month = local.tm_mon % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  const CalendarTime t = DaysFromCivil(year, static_cast<unsigned>(month + 1), 1) * 86400 +
                         (static_cast<std::int64_t>(local.tm_mday) - 1) * 86400 +
                         local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  local = ToLocal(t);
  return t;
}

int FakeComm::InitializePort(int port, int, int, int, int, int, int, int, int) {
  calls.push_back("open " + std::to_string(port));
  const auto it = openError.find(port);
  if (it != openError.end() && it->second != 0) return it->second;
  open[port] = true;
  return 0;
}

int FakeComm::SetPortCharacteristics(int port, int baud, int, int, int, int) {
  calls.push_back("characteristics " + std::to_string(port) + " " + std::to_string(baud));
  return 0;
}

int FakeComm::PutPacket(int port, int count, const char* bytes) {
  if (putFails || !open[port]) return 0;
  const std::string data(bytes, static_cast<std::size_t>(count));
  writes.emplace_back(port, data);
  if (onWrite) onWrite(port, data);
  return count;
}

int FakeComm::GetPacket(int port, int space, char* into) {
  if (!open[port] || space <= 0) return 0;
  std::string& pending = incoming[port];
  const int n = std::min<int>(space, static_cast<int>(pending.size()));
  std::copy_n(pending.data(), n, into);
  pending.erase(0, static_cast<std::size_t>(n));
  return n;
}

int FakeComm::UnInitializePort(int port) {
  calls.push_back("close " + std::to_string(port));
  open[port] = false;
  return 0;
}

std::string FakeComm::Sent(int port) const {
  std::string all;
  for (const auto& [p, data] : writes)
    if (p == port) all += data;
  return all;
}

HttpResponse FakeHttp::Get(const HttpRequest& request, const std::function<void()>& beforeSend) {
  requests.push_back(request);
  HttpResponse reply = defaultReply;
  if (!replies.empty()) {
    reply = replies.front();
    replies.pop_front();
  }
  if (reply.outcome != HttpResponse::Outcome::OpenFailed && beforeSend) beforeSend();
  return reply;
}

int MemoryProfileStore::GetInt(const std::string& file, const std::string& section,
                               const std::string& key, int fallback) {
  const auto it = values.find({file, section, key});
  if (it == values.end()) return fallback;
  std::string v = it->second;
  v.erase(0, v.find_first_not_of(" \t"));
  if (v.empty()) return fallback;
  return static_cast<int>(std::strtol(v.c_str(), nullptr, 10));
}

std::string MemoryProfileStore::GetString(const std::string& file, const std::string& section,
                                          const std::string& key, const std::string& fallback,
                                          std::size_t capacity) {
  const auto it = values.find({file, section, key});
  const std::string& v = it == values.end() ? fallback : it->second;
  return v.substr(0, capacity - 1);
}

bool MemoryProfileStore::WriteString(const std::string& file, const std::string& section,
                                     const std::string& key, const std::string& value) {
  if (unwritable.count(file)) return false;
  values[{file, section, key}] = value;
  writes.push_back(file + "/" + section + "/" + key + "=" + value);
  return true;
}

void FileProfileStore::Load(const std::string& file) {
  for (auto it = values.begin(); it != values.end();)
    it = std::get<0>(it->first) == file ? values.erase(it) : std::next(it);
  const auto text = ReadWholeFile(files_, PathOf(file));
  std::istringstream lines(text.value_or(""));
  std::string section;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (line.size() > 1 && line.front() == '[' && line.back() == ']')
      section = line.substr(1, line.size() - 2);
    else if (equals != std::string::npos)
      values[{file, section, line.substr(0, equals)}] = line.substr(equals + 1);
  }
}

int FileProfileStore::GetInt(const std::string& file, const std::string& section,
                             const std::string& key, int fallback) {
  Load(file);
  return MemoryProfileStore::GetInt(file, section, key, fallback);
}

std::string FileProfileStore::GetString(const std::string& file, const std::string& section,
                                        const std::string& key, const std::string& fallback,
                                        std::size_t capacity) {
  Load(file);
  return MemoryProfileStore::GetString(file, section, key, fallback, capacity);
}

bool FileProfileStore::WriteString(const std::string& file, const std::string& section,
                                   const std::string& key, const std::string& value) {
  if (++attempts == failAt) return false;
  Load(file);
  MemoryProfileStore::WriteString(file, section, key, value);
  std::string text, current;
  for (const auto& [where, entry] : values) {
    const auto& [name, entrySection, entryKey] = where;
    if (name != file) continue;
    if (entrySection != current) text += "[" + (current = entrySection) + "]\r\n";
    text += entryKey + "=" + entry + "\r\n";
  }
  FileHandle out = files_.Open(PathOf(file), "wb", /*denyWrite=*/false);
  return out && std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
}

}  // namespace quorvel::testing
