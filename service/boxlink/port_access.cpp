// Opening, closing and writing the one serial port the service talks through.
#include "service/boxlink/box_link.h"

namespace quorvel {
namespace {

// Codes handed to the serial library as its interface expects them: 8 data bits, no parity,
// one stop bit, no flow control, with 2048-byte receive and 512-byte send queues.
constexpr int kReceiveQueueSize = 2048;
constexpr int kSendQueueSize = 512;

}  // namespace

BoxLink::BoxLink(const Settings& settings, Platform& platform, LocalStore& store)
    : settings_(settings),
      platform_(platform),
      store_(store),
      memory_(settings, platform.files, store) {}

BoxLink::~BoxLink() {
  if (portOpen_) ClosePort();
}

bool BoxLink::OpenPort(int index) {
  if (portOpen_) ClosePort();
  receiveWritePos_ = 0;
  receiveReadPos_ = 0;
  lastOpenError_ =
      platform_.comm.InitializePort(index, index, 0, 0, 9, 0, kReceiveQueueSize, kSendQueueSize, 0);
  if (lastOpenError_ != 0) return false;
  openPortIndex_ = index;
  platform_.comm.SetPortCharacteristics(index, baudRate_, 0, 3, 0, 4);
  state_ = LinkState::Idle;
  portOpen_ = true;
  return true;
}

void BoxLink::ClosePort() {
  if (openPortIndex_ >= 0) platform_.comm.UnInitializePort(openPortIndex_);
  portOpen_ = false;
  state_ = LinkState::Idle;
  SetTimeout(0);
  openPortIndex_ = -1;
}

int BoxLink::SendCommand(const std::string& text) {
  if (!portOpen_ || openPortIndex_ < 0) return 0;
  if (!text.empty()) lastCommand_ = text + '\r';
  if (lastCommand_.empty()) return 0;
  return platform_.comm.PutPacket(openPortIndex_, static_cast<int>(lastCommand_.size()),
                                  lastCommand_.data());
}

}  // namespace quorvel
