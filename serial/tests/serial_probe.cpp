// Drives CDRVHF32.DLL from a script on stdin, one call per line, and prints each result on
// one line of stdout, so an end-to-end test can interleave calls with what a pty sees:
//   init PORT DEVICE [PARITY STOP SPEED LINES RXQ TXQ RESERVED]  -> "init RESULT"
//        (without codes: the service's 0 0 9 0 2048 512 0)
//   set PORT BAUD PARITY DATA STOP LINES                         -> "set RESULT"
//   put PORT HEXBYTES                                            -> "put RESULT"
//   get PORT SPACE                                               -> "get RESULT HEXBYTES"
//   close PORT                                                   -> "close RESULT"
// Anything else prints "? LINE". Hex bytes are two digits each, no separators.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "serial/cdrvhf32.h"

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const char* bytes, int count) {
  std::string hex;
  char pair[3];
  for (int i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[i]));
    hex += pair;
  }
  return hex;
}

std::vector<int> Numbers(std::istringstream& in) {
  std::vector<int> values;
  int v;
  while (in >> v) values.push_back(v);
  return values;
}

std::string Run(const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  if (verb == "put") {
    int port;
    std::string hex;
    in >> port >> hex;
    const std::string bytes = FromHex(hex);
    return "put " + std::to_string(PutPacket(port, static_cast<int>(bytes.size()), bytes.data()));
  }
  const std::vector<int> n = Numbers(in);
  if (verb == "init" && n.size() == 2) {
    return "init " + std::to_string(InitializePort(n[0], n[1], 0, 0, 9, 0, 2048, 512, 0));
  }
  if (verb == "init" && n.size() == 9) {
    return "init " +
           std::to_string(InitializePort(n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], n[8]));
  }
  if (verb == "set" && n.size() == 6) {
    return "set " + std::to_string(SetPortCharacteristics(n[0], n[1], n[2], n[3], n[4], n[5]));
  }
  if (verb == "get" && n.size() == 2) {
    std::vector<char> buffer(n[1] + 16, '\0');
    const int got = GetPacket(n[0], n[1], buffer.data());
    return "get " + std::to_string(got) + " " + ToHex(buffer.data(), got > 0 ? got : 0);
  }
  if (verb == "close" && n.size() == 1) return "close " + std::to_string(UnInitializePort(n[0]));
  return "? " + line;
}

}  // namespace

int main() {
  char line[4096];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (std::strcmp(line, "quit") == 0) break;
    std::printf("%s\n", Run(line).c_str());
    std::fflush(stdout);
  }
  return 0;
}
