#include "service/boxlink/serial_library_binding.h"

#include "serial/cdrvhf32.h"

namespace quorvel {
namespace {

class SerialLibraryBinding : public CommLibrary {
 public:
  int InitializePort(int port, int portAgain, int a, int b, int c, int d, int receiveSize,
                     int sendSize, int e) override {
    return ::InitializePort(port, portAgain, a, b, c, d, receiveSize, sendSize, e);
  }
  int SetPortCharacteristics(int port, int baud, int a, int b, int c, int d) override {
    return ::SetPortCharacteristics(port, baud, a, b, c, d);
  }
  int PutPacket(int port, int count, const char* bytes) override {
    return ::PutPacket(port, count, bytes);
  }
  int GetPacket(int port, int space, char* into) override { return ::GetPacket(port, space, into); }
  int UnInitializePort(int port) override { return ::UnInitializePort(port); }
};

}  // namespace

std::unique_ptr<CommLibrary> MakeSerialLibraryBinding() {
  return std::make_unique<SerialLibraryBinding>();
}

}  // namespace quorvel
