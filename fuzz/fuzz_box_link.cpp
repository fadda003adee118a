// The box link's whole receive side: a box that sends whatever the input says, in chunks,
// while the service ticks PollReceive and starts exchanges whenever the link is idle.
//
// Input: one byte per step, then that step's chunk of box bytes.
//   step byte bits 0-4: ticks to run after feeding the chunk (0 to 31; a 3 s time-out needs
//   31); bit 5: the port takes no bytes during the step (every send fails); bits 6-7: what
//   to start when the link is idle with its port closed (0 download, 1 clock setting,
//   2 port test, 3 nothing).
//   The chunk length is the next byte; the chunk follows.
// After every tick: the state is one the link knows, the port is open exactly when an
// exchange runs, and every byte written to the box is a whole known command. At the end every
// line the cache received reads back as a cache line.
#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/boxlink/box_link.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_dir.h"

namespace {

using quorvel::BoxLink;
using quorvel::LinkState;
using quorvel::LocalStore;
using quorvel::Settings;
using quorvel::testing::FakePlatform;
using quorvel::testing::TempDir;

constexpr int kPort = 2;

bool IsKnownState(LinkState s) {
  switch (s) {
    case LinkState::Downloading:
    case LinkState::SettingTime:
    case LinkState::ReadingSerial:
    case LinkState::ClearingData:
    case LinkState::Testing:
    case LinkState::Idle:
      return true;
    default:
      return false;
  }
}

bool IsKnownCommand(const std::string& bytes) {
  static const std::regex command("(SSSN|SSDD|SSCD|SSTR|COOL|BUMMER|SSTS[0-9A-F]{14})\r");
  return std::regex_match(bytes, command);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void CheckCache(const std::string& cache) {
  // Serial, date (four-digit year up to 2155, plausible month and day), hour up to 255,
  // two counts up to 65535.
  static const std::regex cacheLine(
      "[0-9a-f]{14},[12][0-9]{3}[01][0-9][0-3][0-9],[0-9]{2,3},"
      "[0-9]{5},[0-9]{5}");
  std::istringstream lines(cache);
  std::string line;
  while (std::getline(lines, line))
    FUZZ_CHECK(std::regex_match(line, cacheLine), "cache line '%s'", line.c_str());
  FUZZ_CHECK(cache.empty() || cache.back() == '\n', "cache does not end with a line end");
}

void StartExchange(BoxLink& link, LocalStore& store, int kind) {
  if (kind == 3 || !link.OpenPort(kPort)) return;
  store.OpenLog();
  if (kind == 0) link.RequestSerial();
  if (kind == 1) link.SendSetTime();
  if (kind == 2) link.StartPortTest();
}

void CheckAfterTick(const BoxLink& link) {
  FUZZ_CHECK(IsKnownState(link.state()), "state %d", static_cast<int>(link.state()));
  FUZZ_CHECK(link.portOpen() == (link.openPortIndex() == kPort), "port open %d, index %d",
             link.portOpen(), link.openPortIndex());
  FUZZ_CHECK(link.portOpen() == (link.state() != LinkState::Idle), "port open %d in state %d",
             link.portOpen(), static_cast<int>(link.state()));
  FUZZ_CHECK(link.recordCount() >= 0, "record count %d", link.recordCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempDir dir;
  std::filesystem::remove(dir.File("quorveld.dat"));
  std::filesystem::remove(dir.File("quorveld.log"));

  FakePlatform fake;
  Settings settings;
  settings.LocalDir = dir.ServicePath();
  settings.Logging = 1;
  LocalStore store(settings, *fake.files);
  {
    BoxLink link(settings, fake.platform, store);
    quorvel::fuzz::InputReader input(data, size);
    while (input.Remaining() > 0) {
      const std::uint8_t step = input.Byte();
      fake.comm.putFails = (step & 0x20) != 0;
      if (link.state() == LinkState::Idle && !link.portOpen())
        StartExchange(link, store, step >> 6);
      fake.comm.Feed(kPort, input.Bytes(input.Byte()));
      for (int tick = 0; tick < (step & 0x1F); ++tick) {
        link.PollReceive();
        CheckAfterTick(link);
        fake.clock.Advance(1);
      }
    }
    for (const auto& [port, bytes] : fake.comm.writes)
      FUZZ_CHECK(IsKnownCommand(bytes), "sent '%s'", bytes.c_str());
  }
  store.CloseCache();
  store.CloseLog();
  CheckCache(ReadFile(dir.File("quorveld.dat")));
  return 0;
}
