#include "service/core/service_window.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "service/upload/submit.h"
#include "service/upload/upload_batch.h"

namespace quorvel {
namespace {

constexpr const char* kSeparatorLine = ";=============================================";
constexpr const char* kShutdownLine = "=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=*=";

// Minutes between two events at `rate` a day. The division is unsigned, as the rates were
// always divided; a rate of 0 never survives start-up, but is treated as once a day.
CalendarTime IntervalMinutes(std::int32_t rate) {
  const auto divisor = static_cast<std::uint32_t>(rate);
  return divisor == 0 ? 1440 : static_cast<CalendarTime>(1440u / divisor);
}

// Elapsed whole minutes since `since`; a clock set back before `since` counts as overdue,
// so a corrected PC clock cannot stall polls and uploads for the size of the correction.
bool MinutesElapsedAtLeast(CalendarTime now, CalendarTime since, CalendarTime minutes) {
  if (now < since) return true;
  return (now - since) / 60 >= minutes;
}

}  // namespace

ServiceWindow::ServiceWindow(Settings& settings, Platform& platform, WindowHost& host,
                             OptionsDialogRunner& options)
    : settings_(settings),
      platform_(platform),
      host_(host),
      options_(options),
      store_(settings, platform.files),
      link_(settings, platform, store_),
      journal_(settings, platform, store_) {
  const CalendarTime now = platform_.clock.Now();
  lastUpload_ = now - (IntervalMinutes(settings_.UploadRate) - 2) * 60;
  lastBoxPoll_ = now - (IntervalMinutes(settings_.BoxRate) * 60 - 60);
}

int ServiceWindow::HandleCreate() {
  PingServer(false, settings_, platform_);
  link_.LoadBoxMemory();
  // A database update cut off by a power loss is undone before anything else reads it.
  journal_.Resume();
  return host_.StartTimer() ? 0 : -1;
}

bool ServiceWindow::IsBoxPollDue() const {
  return MinutesElapsedAtLeast(platform_.clock.Now(), lastBoxPoll_,
                               IntervalMinutes(settings_.BoxRate));
}

bool ServiceWindow::IsUploadDue() const {
  CalendarTime minutes = IntervalMinutes(settings_.UploadRate);
  const int ports = SelectedPortCount(settings_);
  if (ports > 0) minutes /= ports;
  return MinutesElapsedAtLeast(platform_.clock.Now(), lastUpload_, minutes);
}

void ServiceWindow::HandleTick() {
  link_.PollReceive();
  if (link_.state() != LinkState::Idle || optionsDialogOpen_ || uploadInProgress_) return;

  if (ChordHeld()) {
    RunOptionsDialogFromChord();
    // Nothing more in this tick: a box test just started must not be cut off by the next
    // port of a poll, and after "Shut Down" no port may open before the close arrives.
    return;
  }
  if (settings_.SynchronizeClocks != 0 && clockSyncPending_ && RunClockPassStep()) return;
  if (RunBoxPollStep()) return;
  RunUploadStep();
}

bool ServiceWindow::ChordHeld() const {
  const KeyState& keys = platform_.keys;
  return keys.IsDown(kKeyControl) && keys.IsDown(kKeyShift) && keys.IsDown(kKeyMenu) &&
         keys.IsDown(kKeyC);
}

void ServiceWindow::RunOptionsDialogFromChord() {
  optionsDialogOpen_ = true;
  link_.ClosePort();
  store_.CloseLog();
  switch (options_.RunOptionsDialog()) {
    case kOptionsShutDown:
      host_.PostClose();
      break;
    case kOptionsBoxTest:
      StartBoxTest();
      break;
    case kOptionsServerTest:
      RunServerTest();
      break;
    default:
      break;
  }
  optionsDialogOpen_ = false;
}

void ServiceWindow::StartBoxTest() {
  int port = -1;
  for (int i = 0; i < kPortCount && port < 0; ++i)
    if (settings_.PortSelected[i] == 1) port = i;
  if (port < 0) {
    Inform("No port selected.", "Communications Error");
    return;
  }
  if (link_.OpenPort(port)) {
    link_.StartPortTest();
    return;
  }
  Inform("Unable to open port.  Error code: " + std::to_string(link_.lastOpenError()),
         "Communications Error");
}

void ServiceWindow::RunServerTest() {
  const bool working = PingServer(true, settings_, platform_);
  Inform(working ? "Communication with server is working."
                 : "Communication with server is NOT working.",
         "Communication Diagnostic");
}

void ServiceWindow::Inform(const std::string& text, const std::string& caption) {
  platform_.notifier.Show(text, caption, MessageIcon::Information, MessageOwner::None);
}

void ServiceWindow::QueueSelectedPorts() {
  for (int i = 0; i < kPortCount; ++i)
    if (settings_.PortSelected[i]) portQueue_.push_back(i);
}

bool ServiceWindow::RunClockPassStep() {
  if (portQueue_.empty()) QueueSelectedPorts();
  if (portQueue_.empty()) return false;
  if (link_.OpenPort(portQueue_.front())) {
    link_.SendSetTime();
  } else {
    link_.ClosePort();
  }
  portQueue_.pop_front();
  if (portQueue_.empty()) clockSyncPending_ = false;
  return true;
}

bool ServiceWindow::RunBoxPollStep() {
  if (portQueue_.empty()) {
    if (!IsBoxPollDue()) return false;
    MarkBoxPoll();
    QueueSelectedPorts();
    if (portQueue_.empty()) return false;
  }
  if (store_.OpenLog()) {
    store_.WriteLogLine(kSeparatorLine);
    store_.WriteLogLine(";Download initiated at " + ShortTime(lastBoxPoll_));
  }
  const int port = portQueue_.front();
  if (link_.OpenPort(port)) {
    link_.RequestSerial();
  } else {
    if (store_.OpenLog()) store_.WriteLogLine(";Unable to open com port " + std::to_string(port));
    link_.ClosePort();
  }
  portQueue_.pop_front();
  return true;
}

void ServiceWindow::RunUploadStep() {
  if (!IsUploadDue()) return;
  uploadInProgress_ = true;
  MarkUpload();
  if (store_.OpenLog()) {
    store_.WriteLogLine(kSeparatorLine);
    store_.WriteLogLine(";Upload initiated at " + ShortTime(lastUpload_));
  }
  // An accepted box-day's trim or merge left unfinished comes first; while it cannot be
  // finished nothing is sent, so the server never gets the same box-day twice.
  if (!journal_.Resume()) {
    uploadInProgress_ = false;
    return;
  }
  UploadBatch batch;
  const std::int64_t count = BuildUploadBatch(store_, batch);
  if (count == 0) {
    store_.WriteLogLine(";Upload aborted. Nothing to send.");
  } else if (batch.IsEmpty()) {
    store_.WriteLogLine(";Cleaning up local cache file.  No send.");
    TrimCache(settings_, platform_.files, count);
  } else {
    SecureFailure secureFailure = SecureFailure::None;
    const int result =
        SubmitBatch(batch, settings_, platform_, store_, clockSyncPending_, secureFailure);
    if (result == 200) {
      journal_.Accept(batch, count);
      if (UploadedDayIsOld(batch.text.data()))
        lastUpload_ = platform_.clock.Now() - (IntervalMinutes(settings_.UploadRate) * 60 - 60);
      store_.WriteLogLine(";Upload successful.  Server response " + std::to_string(result));
    } else if (result == 201) {
      store_.WriteLogLine(";Upload successful.  Server response " + std::to_string(result));
    } else {
      store_.WriteLogLine(";Upload failed.  Server response " + std::to_string(result));
      if (secureFailure != SecureFailure::None)
        store_.WriteLogLine(SecureFailureLogLine(secureFailure));
    }
  }
  uploadInProgress_ = false;
}

// True when the batch's day began two or more days ago: the cache holds a backlog, so the
// next upload follows within a minute.
bool ServiceWindow::UploadedDayIsOld(const char* batchText) const {
  auto field = [&](int offset, int width) {
    return std::atoi(std::string(batchText + offset, static_cast<std::size_t>(width)).c_str());
  };
  std::tm midnight{};
  midnight.tm_year = field(14, 4) - 1900;
  midnight.tm_mon = field(18, 2) - 1;
  midnight.tm_mday = field(20, 2);
  midnight.tm_isdst = -1;
  const CalendarTime start = platform_.clock.FromLocal(midnight);
  return (platform_.clock.Now() - start) / 86400 >= 2;
}

void ServiceWindow::HandleClose() {
  if (store_.OpenLog()) {
    store_.WriteLogLine(kShutdownLine);
    store_.WriteLogLine(";Service shutdown at " + ShortTime(platform_.clock.Now()));
    store_.CloseLog();
  }
  host_.KillTimer();
}

bool ServiceWindow::HandleEndSessionQuery() {
  if (link_.state() != LinkState::Idle || optionsDialogOpen_ || uploadInProgress_) return false;
  link_.set_state(LinkState::Closing);
  host_.PostClose();
  return true;
}

std::string ServiceWindow::ShortTime(CalendarTime t) const {
  const std::tm local = platform_.clock.ToLocal(t);
  char text[32];
  std::strftime(text, sizeof text, "%y/%m/%d %H%M", &local);
  return text;
}

}  // namespace quorvel
