// The serial library's entry points: port numbers, argument codes and results. The Win32
// work is CDRVDL32.DLL's.
#include "serial/cdrvhf32.h"

#include "serial/cdrvdl32.h"

namespace {

constexpr int kPortCount = 256;
constexpr int kMaxQueue = 1 << 16;

// The open device of each port number; null when the number is free.
CdlDevice g_devices[kPortCount] = {};

bool InRange(int value, int low, int high) {
  return value >= low && value <= high;
}

CdlDevice DeviceOf(int port) {
  return InRange(port, 0, kPortCount - 1) ? g_devices[port] : nullptr;
}

bool SpeedOfCode(int code, int32_t* baud) {
  static const int32_t kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  constexpr int kFirstCode = 6;
  if (!InRange(code, kFirstCode, kFirstCode + 7)) return false;
  *baud = kSpeeds[code - kFirstCode];
  return true;
}

bool FramingOk(int parity, int stopBits, int lines) {
  return InRange(parity, 0, 4) && InRange(stopBits, 0, 2) && InRange(lines, 0, 7);
}

}  // namespace

CDRVHF32_API int InitializePort(int port, int device, int parity, int stopBits, int speedCode,
                                int lines, int receiveQueue, int sendQueue, int reserved) {
  CdlLineSettings settings{0, 8, parity, stopBits, lines};
  if (!InRange(port, 0, kPortCount - 1) || !InRange(device, 0, 255) || reserved != 0 ||
      !SpeedOfCode(speedCode, &settings.baud) || !FramingOk(parity, stopBits, lines) ||
      !InRange(receiveQueue, 1, kMaxQueue) || !InRange(sendQueue, 1, kMaxQueue)) {
    return kCdrvBadArgument;
  }
  if (g_devices[port] != nullptr) return kCdrvPortInUse;

  CdlDevice opened = nullptr;
  if (CdlOpen(device + 1, &opened) != 0) return kCdrvNoDevice;
  // A COM name mapped to nothing usable can still open; it fails once it is set up.
  if (CdlPrepare(opened, receiveQueue, sendQueue) != 0 || CdlConfigure(opened, &settings) != 0) {
    CdlClose(opened);
    return kCdrvSetupFailed;
  }
  g_devices[port] = opened;
  return kCdrvOk;
}

CDRVHF32_API int SetPortCharacteristics(int port, int baud, int parity, int dataBits, int stopBits,
                                        int lines) {
  CdlDevice device = DeviceOf(port);
  if (device == nullptr) return kCdrvNotInitialized;
  if (baud <= 0 || !InRange(dataBits, 0, 3) || !FramingOk(parity, stopBits, lines)) {
    return kCdrvBadArgument;
  }
  const CdlLineSettings settings{baud, 5 + dataBits, parity, stopBits, lines};
  return CdlConfigure(device, &settings) == 0 ? kCdrvOk : kCdrvSetupFailed;
}

CDRVHF32_API int PutPacket(int port, int count, const char* bytes) {
  CdlDevice device = DeviceOf(port);
  if (device == nullptr || count <= 0 || bytes == nullptr) return 0;
  return CdlWrite(device, bytes, count) == count ? count : 0;
}

CDRVHF32_API int GetPacket(int port, int space, char* into) {
  CdlDevice device = DeviceOf(port);
  if (device == nullptr) return kCdrvNotInitialized;
  if (space <= 0 || into == nullptr) return 0;
  const int got = CdlRead(device, into, space);
  return got >= 0 ? got : kCdrvIoError;
}

CDRVHF32_API int UnInitializePort(int port) {
  CdlDevice device = DeviceOf(port);
  if (device == nullptr) return kCdrvNotInitialized;
  CdlClose(device);
  g_devices[port] = nullptr;
  return kCdrvOk;
}
