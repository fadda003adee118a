#pragma once
// CDRVDL32.DLL: the low-level half of the serial library. It owns the Win32 side of one COM
// port (open, line settings, non-blocking reads, writes, close) and knows nothing of port
// numbers or codes; CDRVHF32.DLL decodes its callers' arguments into these calls.
#include <stdint.h>

#ifdef CDRVDL32_BUILD
#define CDRVDL32_API extern "C" __declspec(dllexport)
#else
#define CDRVDL32_API extern "C" __declspec(dllimport)
#endif

// Bits of CdlLineSettings::lines.
enum : int32_t {
  kCdlRtsCts = 1,     // RTS/CTS handshake
  kCdlXonXoff = 2,    // XON/XOFF handshake both ways
  kCdlHoldDtrRts = 4  // DTR (and RTS, unless handshaking) held on
};

struct CdlLineSettings {
  int32_t baud;      // bits per second
  int32_t dataBits;  // 5 to 8
  int32_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space (the DCB's numbering)
  int32_t stopBits;  // 0 one, 1 one and a half, 2 two (the DCB's numbering)
  int32_t lines;     // kCdl* bits
};

typedef void* CdlDevice;

// Opens COM<comNumber> (1-based) for exclusive use. 0 and *device set, or the Win32 error code.
CDRVDL32_API int CdlOpen(int comNumber, CdlDevice* device);
// Sizes the driver's queues, makes reads return at once and drops anything already queued.
// 0, or the Win32 error code.
CDRVDL32_API int CdlPrepare(CdlDevice device, int receiveQueue, int sendQueue);
// 0, or the Win32 error code when the device refuses the settings.
CDRVDL32_API int CdlConfigure(CdlDevice device, const CdlLineSettings* settings);
// Bytes copied into `into` (0 when nothing has arrived), or minus the Win32 error code.
CDRVDL32_API int CdlRead(CdlDevice device, char* into, int space);
// Bytes written (all of them unless the device failed), or minus the Win32 error code.
CDRVDL32_API int CdlWrite(CdlDevice device, const char* bytes, int count);
CDRVDL32_API void CdlClose(CdlDevice device);
