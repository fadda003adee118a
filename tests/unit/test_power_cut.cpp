#include <doctest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "service/core/service_window.h"
#include "tests/fakes/fakes.h"
#include "tests/fakes/power_cut_file_system.h"
#include "tests/support/temp_dir.h"

// Every operation on the files is a point at which the power may go. Each scenario runs once
// uncut to count its operations, then once per operation with the power cut right after it,
// a restart on what survived, and a drain; what must hold afterwards is checked each time.
namespace quorvel {
namespace {

using testing::NoOptions;
using testing::PowerCutFileSystem;
using testing::QuietHost;
using testing::TempDir;
using PowerCut = PowerCutFileSystem::PowerCut;

std::string Bytes16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

// A legacy database record: total, month, day, year since 2000, hour.
std::string DatabaseRecord(unsigned total, unsigned month, unsigned day, unsigned hour) {
  return Bytes16(total) + static_cast<char>(month) + static_cast<char>(day) + Bytes16(7) +
         Bytes16(hour);
}

using HourTotals = std::map<std::tuple<int, int, int>, unsigned>;  // (month, day, hour)

// The database's counted records summed hour by hour.
HourTotals TotalsOf(const std::string& database) {
  HourTotals totals;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(database.at(at)); };
  const unsigned count = byte(0) | byte(1) << 8;
  for (unsigned slot = 0; slot < count; ++slot) {
    const std::size_t at = 16 + 8 * slot;
    totals[{byte(at + 2), byte(at + 3), byte(at + 6)}] += byte(at) | byte(at + 1) << 8;
  }
  return totals;
}

// A box record as the box sends it: hour, day, month, year, two counts and a checksum.
std::string BoxRecord(unsigned hour, unsigned day, unsigned count1, unsigned count2) {
  const unsigned sum =
      hour + day + 1 + 7 + (count1 >> 8) + (count1 & 0xFF) + (count2 >> 8) + (count2 & 0xFF);
  char text[32];
  std::snprintf(text, sizeof text, "%02X %02X 01 07 %04X %04X %02X", hour, day, count1, count2,
                0xFF - (sum & 0xFF));
  return text;
}

// A site whose files may lose power: one box on COM1, the server, the legacy database.
struct Site {
  TempDir dir;
  testing::FakeClock clock{testing::UtcTime(2007, 1, 26, 9, 0)};
  testing::FakeKeys keys;
  testing::FakeComm comm;
  PowerCutFileSystem files;
  testing::FakeHttp http;
  testing::RecordingNotifier notifier;
  testing::MemoryProfileStore profiles;
  testing::FakeProgramInfo program;
  Platform platform{clock, keys, comm, files, http, notifier, profiles, program};
  Settings settings;
  QuietHost host;
  NoOptions options;
  std::unique_ptr<ServiceWindow> window;
  // Called before each minute's tick with the minute's number, to change the site on cue.
  std::function<void(int)> onMinute;
  int clears = 0;  // clear commands the box received

  Site() {
    settings.LocalDir = dir.ServicePath();
    settings.Logging = 1;
    settings.ServerDomain = "127.0.0.1";
    settings.ServerPort = 80;
    settings.BoxRate = 1;        // one box poll a day, the first a minute after start
    settings.UploadRate = 1440;  // an upload every minute
    settings.PortSelected[0] = 1;
    comm.openError[0] = 1;  // no box unless a scenario connects one
    http.defaultReply = {HttpResponse::Outcome::Received, 200, "", true, ""};
    profiles.Set("rcs.ini", "Database", Path("counts.db"), "Preferences");
  }
  std::string Path(const std::string& name) const { return settings.LocalDir + "\\" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    dir.Write(name, bytes);
    files.TakeAsDurable(Path(name));
  }
  // A box whose memory holds `records` until it is told to clear.
  void ConnectBox(std::vector<std::string> records) {
    comm.openError[0] = 0;
    comm.onWrite = [this, records, held = records](int port, const std::string& bytes) mutable {
      const std::string command = bytes.substr(0, bytes.size() - 1);
      if (command == "SSSN") {
        comm.Feed(port, "0123456789ABCD01\r");
        held = records;
      } else if (command == "SSDD" || command == "COOL") {
        comm.Feed(port, (held.empty() ? "COOL" : held.front()) + "\r");
        if (!held.empty()) held.erase(held.begin());
      } else if (command == "SSCD") {
        comm.Feed(port, "COOL\r");
        records.clear();
        ++clears;
      }
    };
  }
  // Starts the program and runs it for `minutes`, each minute a burst of ticks.
  void Run(int minutes) {
    window = std::make_unique<ServiceWindow>(settings, platform, host, options);
    window->HandleCreate();
    for (int minute = 0; minute < minutes; ++minute) {
      if (onMinute) onMinute(minute);
      clock.Advance(61);
      for (int tick = 0; tick < 20; ++tick) window->HandleTick();
    }
  }
  void Stop() { window.reset(); }
  std::set<std::string> Requests() const {
    std::set<std::string> objects;
    for (const HttpRequest& r : http.requests)
      if (!r.diagnostic) objects.insert(r.object);
    return objects;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir.File(name)); }
};

struct Outcome {
  std::string cache;
  HourTotals totals;
  std::set<std::string> requests;
  int clears = 0;
  bool leftovers = false;  // a journal or list file still there
};

using Setup = std::function<void(Site&)>;

// Runs the scenario with the power cut after operation `cut` (0: never), restarts, drains.
Outcome RunScenario(const Setup& setup, int cut, int minutes, int* operations = nullptr) {
  Site site;
  setup(site);
  site.files.CutAfter(cut);
  try {
    site.Run(minutes);
  } catch (const PowerCut&) {
    site.Stop();
    site.files.LeaveOnlyDurable();
    // The PC's serial port loses whatever it had received but not yet handed over.
    site.comm.incoming.clear();
    site.comm.open.clear();
    site.onMinute = nullptr;
    site.Run(minutes);
  }
  if (operations) *operations = site.files.operations();
  site.Stop();
  Outcome outcome;
  outcome.cache = site.dir.Read("quorveld.dat");
  if (site.Exists("counts.db")) outcome.totals = TotalsOf(site.dir.Read("counts.db"));
  outcome.requests = site.Requests();
  outcome.clears = site.clears;
  outcome.leftovers =
      site.Exists("quorveld.jnl") || site.Exists("quorveld.jnl.new") || site.Exists("quorveld.lst");
  return outcome;
}

// Checks `check` after a cut at every operation of the uncut run; returns the cut points tried.
int EveryCut(const std::string& scenario, const Setup& setup, int minutes,
             const std::function<void(const Outcome&, const Outcome&)>& check) {
  int operations = 0;
  const Outcome uncut = RunScenario(setup, 0, minutes, &operations);
  for (int cut = 1; cut <= operations; ++cut) {
    CAPTURE(cut);
    check(uncut, RunScenario(setup, cut, minutes));
  }
  MESSAGE(scenario << ": " << operations << " cut points tried");
  return operations;
}

const std::string kDay22 =
    "0123456789abcd,20070122,13,00012,00034\n"
    "0123456789abcd,20070122,14,00001,00002\n";
const std::string kDay23 = "0123456789abcd,20070123,09,00005,00000\n";
const std::string kOtherBox = "00000000000042,20070122,13,00100,00000\n";
const std::string kDatabase = Bytes16(2) + "LEGACY-HEADER!" + DatabaseRecord(7, 1, 21, 13) +
                              DatabaseRecord(10, 1, 22, 13) + std::string(16, '\0');

void ThreeBoxDays(Site& site) {
  site.Write("quorveld.dat", kDay22 + kDay23 + kOtherBox);
  site.Write("counts.db", kDatabase);
}

// The starting database plus each box-day once.
const HourTotals kMergedOnce = {
    {{1, 21, 13}, 7}, {{1, 22, 13}, 10 + 46 + 100}, {{1, 22, 14}, 3}, {{1, 23, 9}, 5}};

void ExpectEachBoxDayOnce(const Outcome& uncut, const Outcome& after) {
  CHECK(after.cache.empty());
  CHECK(after.totals == kMergedOnce);
  CHECK_FALSE(after.leftovers);
  // Every request is one of the whole box-days the uncut run sent: no torn line went out.
  for (const std::string& request : after.requests) CHECK(uncut.requests.count(request) == 1);
}

TEST_CASE("a power cut at any point of an upload, merge and trim loses and doubles nothing") {
  const int cuts = EveryCut(
      "upload, merge and trim", ThreeBoxDays, 6,
      [](const Outcome& uncut, const Outcome& after) { ExpectEachBoxDayOnce(uncut, after); });
  CHECK(cuts > 0);
  const Outcome uncut = RunScenario(ThreeBoxDays, 0, 6);
  CHECK(uncut.requests.size() == 3);
  CHECK(uncut.totals == kMergedOnce);
}

TEST_CASE("an rcs.ini that cannot be written is logged at each merge; the counts go in once") {
  Site site;
  ThreeBoxDays(site);
  site.profiles.unwritable.insert("rcs.ini");
  site.Run(6);
  site.Stop();
  CHECK(TotalsOf(site.dir.Read("counts.db")) == kMergedOnce);
  const std::string log = site.dir.Read("quorveld.log");
  const std::string line = ";Unable to write rcs.ini: Access denied.\r\n";
  std::size_t lines = 0;
  for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++lines;
  CHECK(lines == 3);
}

TEST_CASE("a trim refused by another program is finished before anything is sent again") {
  const Setup heldCache = [](Site& site) {
    ThreeBoxDays(site);
    site.files.held.insert(site.Path("quorveld.dat"));
    site.onMinute = [&site](int minute) {
      if (minute == 4) site.files.held.clear();
    };
  };
  int operations = 0;
  {
    Site site;
    heldCache(site);
    site.Run(3);
    // Three upload steps while the cache is held: one send, the trim tried again at each.
    CHECK(site.Requests().size() == 1);
    CHECK(TotalsOf(site.dir.Read("counts.db"))[{1, 22, 13}] == 10 + 46);
    CHECK(site.dir.Read("quorveld.dat") == kDay22 + kDay23 + kOtherBox);
    CHECK(site.clock.MillisecondsSinceStart() > 0x1234);  // it waited between attempts
  }
  EveryCut("trim refused by another handle", heldCache, 9,
           [](const Outcome& uncut, const Outcome& after) { ExpectEachBoxDayOnce(uncut, after); });
  static_cast<void>(operations);
}

TEST_CASE("a database the other application holds gets the box-day once it opens") {
  const Setup busyDatabase = [](Site& site) {
    ThreeBoxDays(site);
    site.files.busy.insert(site.Path("counts.db"));
    site.onMinute = [&site](int minute) {
      if (minute == 5) site.files.busy.clear();
    };
  };
  {
    Site site;
    busyDatabase(site);
    site.Run(5);
    CHECK(site.dir.Read("quorveld.dat").empty());  // the trims went ahead
    CHECK(site.dir.Read("counts.db") == kDatabase);
    site.onMinute = nullptr;
    site.files.busy.clear();
    site.Run(2);
    CHECK(TotalsOf(site.dir.Read("counts.db")) == kMergedOnce);
  }
  EveryCut("merge owed to a held database", busyDatabase, 9,
           [](const Outcome& uncut, const Outcome& after) { ExpectEachBoxDayOnce(uncut, after); });
}

TEST_CASE("a site without a database writes no journal, and a missing database is skipped") {
  Site site;
  site.Write("quorveld.dat", kDay22 + kDay23);
  SUBCASE("no database named") {
    site.profiles.values.clear();
  }
  SUBCASE("the named database does not exist") {}
  site.files.held.insert(site.Path("quorveld.dat"));
  site.Run(2);
  CHECK_FALSE(site.Exists("quorveld.jnl"));
  CHECK(site.Requests().size() == 1);
  site.files.held.clear();
  site.Run(3);
  CHECK(site.dir.Read("quorveld.dat").empty());
  CHECK(site.Requests().size() == 2);
  CHECK_FALSE(site.Exists("quorveld.jnl"));
  CHECK_FALSE(site.Exists("counts.db"));
}

TEST_CASE("a power cut during a download never loses a record the box was told to clear") {
  const std::vector<std::string> records = {BoxRecord(13, 22, 12, 34), BoxRecord(14, 22, 1, 2),
                                            BoxRecord(15, 22, 0, 7), BoxRecord(9, 23, 5, 0)};
  const std::set<std::string> lines = {
      "0123456789abcd,20070122,13,00012,00034", "0123456789abcd,20070122,14,00001,00002",
      "0123456789abcd,20070122,15,00000,00007", "0123456789abcd,20070123,09,00005,00000"};
  const Setup download = [&records](Site& site) {
    site.http.defaultReply = {HttpResponse::Outcome::SendFailed, 0, "", false, "offline"};
    site.ConnectBox(records);
  };
  EveryCut("download up to the clear", download, 3, [&lines](const Outcome&, const Outcome& after) {
    std::istringstream cache(after.cache);
    std::multiset<std::string> stored;
    for (std::string line; std::getline(cache, line);) {
      CHECK(lines.count(line) == 1);  // whole lines only
      stored.insert(line);
    }
    CHECK(after.clears >= 1);
    // Each once: every line of an hour counts in the batch.
    CHECK(stored == std::multiset<std::string>(lines.begin(), lines.end()));
  });
}

}  // namespace
}  // namespace quorvel
