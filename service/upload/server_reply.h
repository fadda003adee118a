#pragma once
// The collection server's reply body: a line holding id="server_response may carry a clock
// mark ("@", 4 characters not examined, the server's idea of the PC's local "%m%d%H%M") and,
// after title=", the result code.
#include <optional>
#include <string_view>

namespace quorvel {

struct ServerReply {
  std::optional<int> resultCode;  // from the first line holding both markers
  bool clockAgrees = false;       // a marker line's clock mark lies within 9 of the PC's
};

// `localClock` is the PC's local time formatted "%m%d%H%M". Lines end at a line feed; a
// carriage return before it is ignored. Nothing is read past the end of a line.
ServerReply ParseServerReply(std::string_view body, std::string_view localClock);

}  // namespace quorvel
