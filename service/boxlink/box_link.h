#pragma once
// The service's side of the box conversation: one port open at a time, bytes framed into
// lines, one exchange (download, clock setting, port test) in progress at a time.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "service/boxlink/box_memory.h"
#include "service/boxlink/count_record.h"
#include "service/platform/platform.h"
#include "service/settings/settings.h"
#include "service/store/local_store.h"

namespace quorvel {

enum class LinkState : std::int32_t {
  Downloading = 0,
  SettingTime = 1,
  ReadingSerial = 4,
  ClearingData = 7,
  Testing = 15,
  Closing = 16,
  Idle = 17,
};

class BoxLink {
 public:
  static constexpr int kReceiveBufferSize = 2048;
  static constexpr int kLineBufferSize = 512;

  BoxLink(const Settings& settings, Platform& platform, LocalStore& store);
  ~BoxLink();  // closes a port that is still open
  BoxLink(const BoxLink&) = delete;
  BoxLink& operator=(const BoxLink&) = delete;

  // Port access.
  bool OpenPort(int index);  // true when open; on false lastOpenError() holds the code
  void ClosePort();
  int SendCommand(const std::string& text);  // empty text sends the last command again

  // Receive framing, once per 100 ms tick.
  void PollReceive();
  void SetTimeout(int seconds);

  // Exchanges.
  void RequestSerial();  // starts a download exchange on the open port
  void SendSetTime();    // starts a clock setting on the open port
  void StartPortTest();  // the operator's port test: "SSTR", Testing, 2 s
  bool StartDownload();
  void SendClearData();
  void EndExchange();
  void OnLine(const char* line);
  void OnTimeout();
  // Reads what the boxes are known to hold; before anything trims the cache.
  void LoadBoxMemory() { memory_.Load(); }

  LinkState state() const { return state_; }
  void set_state(LinkState s) { state_ = s; }
  bool portOpen() const { return portOpen_; }
  int openPortIndex() const { return openPortIndex_; }
  int lastOpenError() const { return lastOpenError_; }
  int recordCount() const { return recordCount_; }

 private:
  bool TimeoutTickExpires();
  void DropReceived();
  void TakeLine();
  void OnSerialReply(const char* line);
  void OnDownloadLine(const char* line);
  void OnRecordLine(const char* line);
  bool StoreRecord(const CountRecord& record, const std::string& line);
  bool HoldIfReplayed(const std::string& line);
  void StoreHeld();
  void NoteNotStored(std::size_t index);
  bool RememberWhatTheBoxHolds();
  void FinishDownload();
  void FailStartDownload();
  void OnClearingReply(const char* line);
  void OnSetTimeReply(const char* line);
  void OnTestReply(const char* line);
  void OnTestTimeout();
  std::string TestReplyText(const unsigned* clockFields) const;
  std::string SerialHex() const;
  std::string LongTime() const;

  const Settings& settings_;
  Platform& platform_;
  LocalStore& store_;

  int lastOpenError_ = 0;
  std::string lastCommand_;
  int openPortIndex_ = -1;
  int baudRate_ = 9600;
  bool portOpen_ = false;
  int timeoutLimit_ = 0;
  int timeoutTicks_ = 0;
  int quietTicks_ = 0;  // ticks since the last byte arrived while part of a line waits
  int recordCount_ = 0;
  std::array<char, kLineBufferSize> lineBuffer_{};
  std::array<std::uint8_t, 7> unitSerial_{};
  std::uint8_t unitVersion_ = 0;
  LinkState state_ = LinkState::Idle;

  // A record of this download passed its tests but is not in the cache: the unit must keep
  // its memory.
  bool recordsNotStored_ = false;

  // The box's replay of records already stored: the record lines of this download, those
  // held back while they repeat what the box held before in order, and whether they still do.
  BoxMemory memory_;
  std::vector<std::string> received_;
  std::vector<std::string> held_;
  bool replayOpen_ = false;
  std::size_t firstNotStored_ = SIZE_MAX;  // index in received_ of the first record not stored
  bool downloadAbortShowing_ = false;      // the "Download Aborted" box waits for the operator

  std::array<char, kReceiveBufferSize> receiveBuffer_{};
  int receiveWritePos_ = 0;
  int receiveReadPos_ = 0;
};

}  // namespace quorvel
