#pragma once
// CDRVHF32.DLL: the serial library the service imports, by ordinal only (see cdrvhf32.def).
// A port number (0..255) is the caller's name for an initialised port; the device number
// (0..255) picks COM(device+1). Every call is made from one thread.
//
// Codes:
//   parity     0 none, 1 odd, 2 even, 3 mark, 4 space
//   stopBits   0 one, 1 one and a half, 2 two
//   dataBits   0..3 for 5..8 data bits
//   speedCode  6 1200, 7 2400, 8 4800, 9 9600, 10 19200, 11 38400, 12 57600, 13 115200
//   lines      bit 0 RTS/CTS handshake, bit 1 XON/XOFF handshake, bit 2 hold DTR and RTS on
//              (no other bits)
// InitializePort leaves the line at 8 data bits; SetPortCharacteristics sets it all.

enum CdrvResult {
  kCdrvOk = 0,
  kCdrvBadArgument = -1,  // port or device number out of range, or an unknown code
  kCdrvPortInUse = -2,    // the port number is already initialised
  kCdrvNoDevice = -3,     // the COM device cannot be opened (absent, or held by a program)
  kCdrvSetupFailed = -4,  // the device opened but refused its settings (e.g. nothing behind it)
  kCdrvNotInitialized = -5,
  kCdrvIoError = -6
};

#ifdef CDRVHF32_BUILD
#define CDRVHF32_API extern "C"
#else
#define CDRVHF32_API extern "C" __declspec(dllimport)
#endif

// Opens COM(device+1) as `port` and sets its line. kCdrvOk only when the port is open and
// configured; otherwise nothing stays open. `reserved` must be 0.
CDRVHF32_API int InitializePort(int port, int device, int parity, int stopBits, int speedCode,
                                int lines, int receiveQueue, int sendQueue, int reserved);
// Sets speed (bits per second) and framing of an initialised port. kCdrvOk or an error.
CDRVHF32_API int SetPortCharacteristics(int port, int baud, int parity, int dataBits, int stopBits,
                                        int lines);
// `count` when all bytes were sent, 0 when not (also for an empty or refused packet).
CDRVHF32_API int PutPacket(int port, int count, const char* bytes);
// Bytes received since the last call, at most `space`; 0 at once when none has arrived;
// kCdrvNotInitialized or kCdrvIoError on failure.
CDRVHF32_API int GetPacket(int port, int space, char* into);
// Closes the port. kCdrvOk, or kCdrvNotInitialized.
CDRVHF32_API int UnInitializePort(int port);
