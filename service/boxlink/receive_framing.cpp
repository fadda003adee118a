// Cutting the bytes from the open port into lines, and counting the exchange's time-out.
#include <algorithm>
#include <cstring>

#include "service/boxlink/box_link.h"

namespace quorvel {
namespace {

constexpr int kTicksPerSecond = 10;  // the service's timer ticks every 100 ms

}  // namespace

void BoxLink::SetTimeout(int seconds) {
  timeoutLimit_ = seconds * kTicksPerSecond;
  timeoutTicks_ = 0;
  quietTicks_ = 0;
}

void BoxLink::PollReceive() {
  if (!portOpen_ || openPortIndex_ < 0) return;

  if (TimeoutTickExpires()) {
    OnTimeout();
    if (!portOpen_ || openPortIndex_ < 0) return;
  }

  const int space = kReceiveBufferSize - receiveWritePos_;
  const int got =
      platform_.comm.GetPacket(openPortIndex_, space, receiveBuffer_.data() + receiveWritePos_);
  if (got > 0) {
    receiveWritePos_ += std::min(got, space);
    quietTicks_ = 0;
  }
  TakeLine();
}

bool BoxLink::TimeoutTickExpires() {
  if (receiveWritePos_ == kReceiveBufferSize || receiveReadPos_ >= receiveWritePos_) {
    // A full buffer without a line end is noise; drop it. A tick that starts with nothing
    // waiting counts towards the time-out.
    DropReceived();
    return timeoutLimit_ > 0 && ++timeoutTicks_ > timeoutLimit_;
  }
  // Bytes are waiting. While a line is still arriving the time-out stays off, but a box that
  // went silent in mid-line (power lost, cable pulled, a glitch byte) never finishes it: once
  // nothing more has come for the whole time-out, the part is dropped and the exchange times
  // out as it would have in silence.
  if (timeoutLimit_ == 0 || ++quietTicks_ <= timeoutLimit_) return false;
  DropReceived();
  return true;
}

void BoxLink::DropReceived() {
  receiveWritePos_ = 0;
  receiveReadPos_ = 0;
}

void BoxLink::TakeLine() {
  const char* begin = receiveBuffer_.data() + receiveReadPos_;
  const char* end = receiveBuffer_.data() + receiveWritePos_;
  const char* cr = std::find(begin, end, '\r');
  if (cr == end) return;

  // A line longer than the line buffer is cut to what fits; the rest up to its line end is
  // consumed with it, so the next line starts in step. A cut record fails its checksum.
  const std::size_t length =
      std::min<std::size_t>(static_cast<std::size_t>(cr - begin), kLineBufferSize - 1);
  lineBuffer_.fill('\0');
  std::memcpy(lineBuffer_.data(), begin, length);
  receiveReadPos_ = static_cast<int>(cr - receiveBuffer_.data()) + 1;
  OnLine(lineBuffer_.data());
}

}  // namespace quorvel
