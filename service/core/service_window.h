#pragma once
// The service's scheduler: the 100 ms tick decides, when no exchange with a box is running,
// whether to open the options dialog, set the box clocks, poll the boxes or upload counts.
// The Win32 window that carries it (service_app.cpp) only forwards messages and the timer.
#include <deque>

#include "service/boxlink/box_link.h"
#include "service/dialogs/options_result.h"
#include "service/settings/settings.h"
#include "service/platform/platform.h"
#include "service/store/local_store.h"
#include "service/upload/upload_journal.h"

namespace quorvel {

// What the scheduler needs of the window that carries it.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Starts the 100 ms timer whose callback is HandleTick; false when it cannot be created.
  virtual bool StartTimer() = 0;
  virtual void KillTimer() = 0;
  // Posts WM_CLOSE to the window; HandleClose runs when it arrives.
  virtual void PostClose() = 0;
};

class OptionsDialogRunner {
 public:
  virtual ~OptionsDialogRunner() = default;
  // Shows the dialog, updates and stores the settings, returns one of OptionsResult.
  virtual int RunOptionsDialog() = 0;
};

class ServiceWindow {
 public:
  ServiceWindow(Settings& settings, Platform& platform, WindowHost& host,
                OptionsDialogRunner& options);

  int HandleCreate();  // 0 lets the window be created, -1 makes the creation fail
  void HandleTick();
  void HandleClose();
  bool HandleEndSessionQuery();  // true: the service agrees to end and will close

  bool IsBoxPollDue() const;
  bool IsUploadDue() const;
  void MarkBoxPoll() { lastBoxPoll_ = platform_.clock.Now(); }
  void MarkUpload() { lastUpload_ = platform_.clock.Now(); }

  BoxLink& link() { return link_; }
  LocalStore& store() { return store_; }
  bool clockSyncPending() const { return clockSyncPending_; }
  void set_clockSyncPending(bool pending) { clockSyncPending_ = pending; }
  bool optionsDialogOpen() const { return optionsDialogOpen_; }
  bool uploadInProgress() const { return uploadInProgress_; }
  const std::deque<int>& portQueue() const { return portQueue_; }
  CalendarTime lastBoxPoll() const { return lastBoxPoll_; }
  CalendarTime lastUpload() const { return lastUpload_; }

 private:
  bool ChordHeld() const;
  void RunOptionsDialogFromChord();
  void StartBoxTest();
  void RunServerTest();
  bool RunClockPassStep();
  bool RunBoxPollStep();
  void RunUploadStep();
  void QueueSelectedPorts();
  bool UploadedDayIsOld(const char* batchText) const;
  std::string ShortTime(CalendarTime t) const;
  void Inform(const std::string& text, const std::string& caption);

  Settings& settings_;
  Platform& platform_;
  WindowHost& host_;
  OptionsDialogRunner& options_;
  LocalStore store_;
  BoxLink link_;
  UploadJournal journal_;

  CalendarTime lastBoxPoll_;
  CalendarTime lastUpload_;
  std::deque<int> portQueue_;
  bool clockSyncPending_ = false;
  bool optionsDialogOpen_ = false;
  bool uploadInProgress_ = false;
};

}  // namespace quorvel
