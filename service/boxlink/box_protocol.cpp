// The service's side of the box conversation: what to send, and what every received line
// or time-out means in the exchange that is running.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "service/boxlink/box_link.h"
#include "service/boxlink/hex_fields.h"

namespace quorvel {
namespace {

constexpr int kSerialWidths[] = {2, 2, 2, 2, 2, 2, 2, 2};  // seven serial bytes, the version
constexpr int kClockWidths[] = {2, 2, 2, 2, 2, 2, 2};      // sec min hour wday day month year

// Box keywords: the first characters of the line, in any letter case; the rest is ignored.
bool IsKeyword(const char* line, const char* keyword) {
  for (; *keyword != '\0'; ++line, ++keyword) {
    char c = *line;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != *keyword) return false;
  }
  return true;
}

std::string TwoHexDigits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%2.2x", value & 0xFF);
  return text;
}

}  // namespace

void BoxLink::RequestSerial() {
  state_ = LinkState::ReadingSerial;
  SendCommand("SSSN");
  SetTimeout(1);
}

void BoxLink::SendSetTime() {
  const std::tm now = platform_.clock.ToLocal(platform_.clock.Now());
  char command[32];
  std::snprintf(command, sizeof command, "SSTS%02X%02X%02X%02X%02X%02X%02X", now.tm_sec, now.tm_min,
                now.tm_hour, now.tm_wday + 1, now.tm_mday, now.tm_mon + 1, now.tm_year % 100);
  SendCommand(command);
  state_ = LinkState::SettingTime;
  SetTimeout(2);
}

void BoxLink::StartPortTest() {
  SendCommand("SSTR");
  state_ = LinkState::Testing;
  SetTimeout(2);
}

bool BoxLink::StartDownload() {
  if (state_ != LinkState::Idle) return false;
  recordCount_ = 0;
  recordsNotStored_ = false;
  received_.clear();
  held_.clear();
  replayOpen_ = true;
  firstNotStored_ = SIZE_MAX;
  if (!store_.OpenCache(true) || SendCommand("SSDD") == 0) {
    FailStartDownload();
    return false;
  }
  store_.WriteLogLine("Download initiated from " + SerialHex() + " v " +
                      TwoHexDigits(unitVersion_));
  store_.WriteLogLine(";start " + LongTime());
  state_ = LinkState::Downloading;
  SetTimeout(3);
  return true;
}

void BoxLink::FailStartDownload() {
  store_.WriteLogLine(";Error: unable to initiate download.");
  store_.WriteLogLine(";failure time " + LongTime());
  // The cache may have been opened for writing just now. Ending the whole exchange closes
  // it, so an upload never finds it still open in the wrong mode; the unit keeps its data.
  EndExchange();
}

void BoxLink::SendClearData() {
  state_ = LinkState::ClearingData;
  SendCommand("SSCD");
  SetTimeout(1);
}

void BoxLink::EndExchange() {
  store_.CloseCache();
  state_ = LinkState::Idle;
  ClosePort();
  SetTimeout(0);
  if (store_.IsLogOpen()) store_.CloseLog();
}

void BoxLink::OnLine(const char* line) {
  SetTimeout(1);
  switch (state_) {
    case LinkState::ReadingSerial:
      OnSerialReply(line);
      break;
    case LinkState::Downloading:
      OnDownloadLine(line);
      break;
    case LinkState::ClearingData:
      OnClearingReply(line);
      break;
    case LinkState::SettingTime:
      OnSetTimeReply(line);
      break;
    case LinkState::Testing:
      OnTestReply(line);
      break;
    default:
      // Nothing expects a line: close a port left open.
      state_ = LinkState::Idle;
      ClosePort();
      SetTimeout(0);
      break;
  }
}

void BoxLink::OnSerialReply(const char* line) {
  SetTimeout(0);
  unsigned fields[8] = {};
  // The serial decides where every record of this download is filed, and a unit that is
  // cleared afterwards keeps no copy: a line with anything more or less than the serial
  // (noise on the line shifts the digits) is not taken.
  if (!ScanWholeHexFields(line, kSerialWidths, 8, fields)) {
    state_ = LinkState::Idle;
    ClosePort();
    store_.WriteLogLine(std::string(";Bad response to GetSerial: ") + line);
    return;
  }
  for (std::size_t i = 0; i < unitSerial_.size(); ++i)
    unitSerial_[i] = static_cast<std::uint8_t>(fields[i]);
  unitVersion_ = static_cast<std::uint8_t>(fields[7]);
  state_ = LinkState::Idle;
  store_.WriteLogLine(";Serial #" + SerialHex());
  StartDownload();
}

void BoxLink::OnDownloadLine(const char* line) {
  if (IsKeyword(line, "COOL")) {
    FinishDownload();
  } else if (IsKeyword(line, "HASH")) {
    SendCommand("");
  } else if (IsKeyword(line, "BITEME")) {
    store_.WriteLogLine(";Error downloading data. The data download is incomplete.");
    RememberWhatTheBoxHolds();
    EndExchange();
    // Ticks, and with them the next polls, go on while the box is open. A unit that keeps
    // breaking off would stack one more box on every poll until the thread's stack ran out,
    // so a second one is not shown while the first waits for the operator.
    if (downloadAbortShowing_) return;
    downloadAbortShowing_ = true;
    platform_.notifier.Show("The data download is incomplete.", "Download Aborted",
                            MessageIcon::Exclamation, MessageOwner::ServiceWindow);
    downloadAbortShowing_ = false;
  } else if (IsKeyword(line, "BUMMER")) {
    store_.WriteLogLine(";Error downloading data.");
    RememberWhatTheBoxHolds();
    EndExchange();
  } else {
    OnRecordLine(line);
  }
}

void BoxLink::OnRecordLine(const char* line) {
  CountRecord record;
  record.ParseRecord(line);
  if (!record.ChecksumOk()) {
    store_.WriteLogText(": Bad checksum.");
    SendCommand("BUMMER");
    store_.EndLogLine();
    return;
  }
  ++recordCount_;
  char number[16];
  std::snprintf(number, sizeof number, "%5d", recordCount_);
  store_.WriteLogText(std::string("record") + number + ":" + line);
  SendCommand("COOL");
  // Remembered and compared with its repeat as fields: line noise that is only white space
  // (or a box ending its lines with CR LF) leaves the record valid but changes its text.
  const std::string text = WithPlainBlanks(line);
  received_.push_back(text);
  // The unit has its acknowledgement; an impossible date is dropped on our side only.
  if (HoldIfReplayed(text)) {
    store_.EndLogLine();
    return;
  }
  if (!record.IsPlausible()) {
    store_.WriteLogText(": Garbage record ignored");
  } else if (!StoreRecord(record, text)) {
    NoteNotStored(received_.size() - 1);
  }
  store_.EndLogLine();
}

bool BoxLink::StoreRecord(const CountRecord& record, const std::string& line) {
  // Once a record of this download could not be stored, the box is not cleared and repeats
  // everything from its first record; a later record stored now would then be stored twice
  // (what the box holds counts as stored only up to the first record missing).
  if (recordsNotStored_) {
    store_.WriteLogText(";Cache write failed.  Record not stored.");
    return false;
  }
  if (!store_.IsCacheOpen()) {
    store_.WriteLogText(";Cache file not open.  Record lost.");
    return false;
  }
  // The note goes first: a note without its line in the cache counts for nothing.
  if (!memory_.NoteStoring(SerialHex(), line, store_.CacheEnd()) ||
      !store_.AppendCacheLine(SerialHex() + "," + record.FormatRecord())) {
    store_.WriteLogText(";Cache write failed.  Record not stored.");
    return false;
  }
  return true;
}

bool BoxLink::HoldIfReplayed(const std::string& line) {
  if (!replayOpen_) return false;
  const std::vector<std::string>& before = memory_.Of(SerialHex());
  if (held_.size() < before.size() && before[held_.size()] == line) {
    held_.push_back(line);
    return true;
  }
  // A box that replays sends all it held before anything new; a line that breaks the
  // sequence early shows it was cleared after all, so what was held back is new.
  if (held_.size() < before.size())
    StoreHeld();
  else if (!before.empty())
    memory_.NoteRepeated(SerialHex());
  replayOpen_ = false;
  return false;
}

void BoxLink::StoreHeld() {
  // What is held back is always the start of this download.
  for (std::size_t i = 0; i < held_.size(); ++i) {
    CountRecord record;
    record.ParseRecord(held_[i].c_str());
    if (record.IsPlausible() && !StoreRecord(record, held_[i])) NoteNotStored(i);
  }
  held_.clear();
  replayOpen_ = false;
}

void BoxLink::NoteNotStored(std::size_t index) {
  recordsNotStored_ = true;
  firstNotStored_ = std::min(firstNotStored_, index);
}

// The box's records up to the first one not stored count as stored, so that the next download
// does not store them again: all it sent, or all it held before when it broke off part way
// through repeating them. Only what is on the disk is saved as stored; lines the cache could
// not commit still count for this run (they are in the file), and after a restart their notes
// count while the cache holds them.
// Returns whether the cache was committed.
bool BoxLink::RememberWhatTheBoxHolds() {
  const bool committed = store_.CommitCache();
  std::vector<std::string> stored = received_;
  if (recordsNotStored_) stored.resize(std::min(stored.size(), firstNotStored_));
  const std::vector<std::string>& before = memory_.Of(SerialHex());
  if (replayOpen_ && stored.size() < before.size()) return committed;
  if (!committed)
    memory_.Keep(SerialHex(), stored);
  else if (!memory_.Set(SerialHex(), stored))
    store_.WriteLogLine(";Box records not noted; a repeat may be stored twice.");
  return committed;
}

void BoxLink::FinishDownload() {
  store_.WriteLogLine(";ended " + LongTime());
  // The end of the data before the whole repeat: no repeat at all.
  if (replayOpen_ && held_.size() < memory_.Of(SerialHex()).size()) StoreHeld();
  // Clearing the unit is only safe once every record it sent is on our disk; otherwise it
  // keeps its memory and the next poll downloads the records again.
  if (recordsNotStored_) {
    store_.WriteLogLine(";Records not stored; unit not cleared.");
    RememberWhatTheBoxHolds();
    EndExchange();
    return;
  }
  if (!RememberWhatTheBoxHolds()) {
    store_.WriteLogLine(";Cache not saved to disk; unit not cleared.");
    EndExchange();
    return;
  }
  store_.WriteLogLine(";clearing data...");
  SendClearData();
}

void BoxLink::OnClearingReply(const char* line) {
  SetTimeout(0);
  state_ = LinkState::Idle;
  if (IsKeyword(line, "COOL")) {
    store_.WriteLogLine(";Data successfully cleared.");
    memory_.Set(SerialHex(), {});
  } else if (IsKeyword(line, "BUMMER")) {
    store_.WriteLogLine(";Error clearing data.");
  }
  EndExchange();
}

void BoxLink::OnSetTimeReply(const char* line) {
  state_ = LinkState::Idle;
  ClosePort();
  SetTimeout(0);
  store_.WriteLogLine(IsKeyword(line, "BUMMER") ? ";Bad response to Set Time command."
                                                : ";The remote time has been set to system time.");
}

void BoxLink::OnTestReply(const char* line) {
  state_ = LinkState::Idle;
  ClosePort();
  SetTimeout(0);
  unsigned fields[7] = {};
  if (IsKeyword(line, "BUMMER") || ScanHexFields(line, kClockWidths, 7, fields) != 7) {
    platform_.notifier.Show("Bad response to Transmit Time command.", "Command Error",
                            MessageIcon::Information, MessageOwner::ServiceWindow);
    return;
  }
  platform_.notifier.Show(TestReplyText(fields), "Remote Time", MessageIcon::Information,
                          MessageOwner::ServiceWindow);
}

std::string BoxLink::TestReplyText(const unsigned* clockFields) const {
  // Start from the PC's local time so that its daylight-saving flag is kept, then let the
  // calendar normalise whatever the unit sent (the weekday is recomputed from the date).
  std::tm unit = platform_.clock.ToLocal(platform_.clock.Now());
  const int year = static_cast<int>(clockFields[6]);
  unit.tm_sec = static_cast<int>(clockFields[0]);
  unit.tm_min = static_cast<int>(clockFields[1]);
  unit.tm_hour = static_cast<int>(clockFields[2]);
  unit.tm_wday = static_cast<int>(clockFields[3]) - 1;
  unit.tm_mday = static_cast<int>(clockFields[4]);
  unit.tm_mon = static_cast<int>(clockFields[5]) - 1;
  unit.tm_year = (year < 90 ? 2000 + year : 1900 + year) - 1900;
  platform_.clock.FromLocal(unit);
  char text[80];
  if (std::strftime(text, sizeof text, "The unit reports %I:%M %A, %B %d %Y", &unit) == 0)
    text[0] = '\0';
  return text;
}

void BoxLink::OnTimeout() {
  timeoutLimit_ = 0;
  switch (state_) {
    case LinkState::Downloading:
      RememberWhatTheBoxHolds();
      store_.CloseCache();
      store_.WriteLogLine(";The unit is not responding.");
      store_.WriteLogLine(";");
      ClosePort();
      state_ = LinkState::Idle;
      break;
    case LinkState::SettingTime:
      store_.WriteLogLine(";The unit is not responding.");
      store_.WriteLogLine(";");
      ClosePort();
      state_ = LinkState::Idle;
      break;
    case LinkState::ReadingSerial:
      store_.WriteLogLine(";The unit is not responding to AutoSerial.");
      state_ = LinkState::Idle;
      ClosePort();
      break;
    case LinkState::Testing:
      OnTestTimeout();
      break;
    case LinkState::ClearingData:
      // Whether the unit cleared its memory is unknown; its records are already committed
      // to the cache. End the exchange completely so the cache is closed before any upload.
      store_.WriteLogLine(";The unit is not responding.");
      store_.WriteLogLine(";");
      EndExchange();
      break;
    default:
      state_ = LinkState::Idle;
      break;
  }
}

void BoxLink::OnTestTimeout() {
  // The box comes first; until the operator closes it the test stays in progress, and a late
  // reply is still taken by OnLine. Such a reply ends the test itself, and the ticks that run
  // while the boxes are open may then start another exchange: its port is not ours to close.
  platform_.notifier.Show("The device is not responding.", "Test Failed", MessageIcon::Information,
                          MessageOwner::None);
  if (state_ != LinkState::Testing) return;
  ClosePort();
  state_ = LinkState::Idle;
}

std::string BoxLink::SerialHex() const {
  std::string hex;
  for (const std::uint8_t byte : unitSerial_) hex += TwoHexDigits(byte);
  return hex;
}

std::string BoxLink::LongTime() const {
  const std::tm now = platform_.clock.ToLocal(platform_.clock.Now());
  char text[40];
  std::strftime(text, sizeof text, "%Y/%m/%d @ %H:%M:%S", &now);
  return text;
}

}  // namespace quorvel
