#pragma once
// The serial library (CDRVHF32.DLL) as the box link calls it. Arguments are passed exactly
// as the caller gives them; see serial/ for what our own library makes of the codes.

namespace quorvel {

class CommLibrary {
 public:
  virtual ~CommLibrary() = default;
  // 0 when the port is open and ready, otherwise an error code.
  virtual int InitializePort(int port, int portAgain, int a, int b, int c, int d, int receiveSize,
                             int sendSize, int e) = 0;
  // Result ignored by the caller.
  virtual int SetPortCharacteristics(int port, int baud, int a, int b, int c, int d) = 0;
  // Non-zero when the bytes were sent, 0 when not.
  virtual int PutPacket(int port, int count, const char* bytes) = 0;
  // Positive: number of bytes delivered into `into` (at most `space`); 0 or negative: none.
  virtual int GetPacket(int port, int space, char* into) = 0;
  // Result ignored by the caller.
  virtual int UnInitializePort(int port) = 0;
};

}  // namespace quorvel
