// The Win32 serial work behind CDRVHF32.DLL.
#include "serial/cdrvdl32.h"

#include <windows.h>

#include <cstdio>

namespace {

HANDLE AsHandle(CdlDevice device) {
  return static_cast<HANDLE>(device);
}

int LastError() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

// Reads return at once with whatever has arrived, possibly nothing; writes wait until the
// bytes are out, which without handshaking is bounded by the line speed.
bool SetNonBlockingReads(HANDLE h) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  return SetCommTimeouts(h, &timeouts) != 0;
}

void ApplyLineControl(DCB& dcb, int32_t lines) {
  const bool rtsCts = (lines & kCdlRtsCts) != 0;
  const bool xonXoff = (lines & kCdlXonXoff) != 0;
  const bool hold = (lines & kCdlHoldDtrRts) != 0;
  dcb.fOutxCtsFlow = rtsCts;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE
                    : hold ? RTS_CONTROL_ENABLE
                           : RTS_CONTROL_DISABLE;
  dcb.fDtrControl = hold ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fOutX = xonXoff;
  dcb.fInX = xonXoff;
  // Windows rejects a DCB whose XON and XOFF characters are equal, even with XON/XOFF off.
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
}

}  // namespace

CDRVDL32_API int CdlOpen(int comNumber, CdlDevice* device) {
  // The \\.\ form is the only one that reaches COM10 and above.
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", comNumber);
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  *device = h;
  return 0;
}

CDRVDL32_API int CdlPrepare(CdlDevice device, int receiveQueue, int sendQueue) {
  HANDLE h = AsHandle(device);
  if (!SetupComm(h, static_cast<DWORD>(receiveQueue), static_cast<DWORD>(sendQueue)) ||
      !SetNonBlockingReads(h) || !PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
    return LastError();
  }
  return 0;
}

CDRVDL32_API int CdlConfigure(CdlDevice device, const CdlLineSettings* settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(AsHandle(device), &dcb)) return LastError();
  dcb.BaudRate = static_cast<DWORD>(settings->baud);
  dcb.ByteSize = static_cast<BYTE>(settings->dataBits);
  dcb.Parity = static_cast<BYTE>(settings->parity);
  dcb.StopBits = static_cast<BYTE>(settings->stopBits);
  dcb.fBinary = TRUE;
  dcb.fParity = settings->parity != NOPARITY;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;  // NUL bytes are data
  dcb.fAbortOnError = FALSE;
  ApplyLineControl(dcb, settings->lines);
  if (!SetCommState(AsHandle(device), &dcb)) return LastError();
  return 0;
}

CDRVDL32_API int CdlRead(CdlDevice device, char* into, int space) {
  DWORD got = 0;
  if (!ReadFile(AsHandle(device), into, static_cast<DWORD>(space), &got, nullptr)) {
    return -LastError();
  }
  return static_cast<int>(got);
}

CDRVDL32_API int CdlWrite(CdlDevice device, const char* bytes, int count) {
  int written = 0;
  while (written < count) {
    DWORD put = 0;
    if (!WriteFile(AsHandle(device), bytes + written, static_cast<DWORD>(count - written), &put,
                   nullptr)) {
      return -LastError();
    }
    if (put == 0) break;  // the device took nothing: report what went out so far
    written += static_cast<int>(put);
  }
  return written;
}

CDRVDL32_API void CdlClose(CdlDevice device) {
  CloseHandle(AsHandle(device));
}
