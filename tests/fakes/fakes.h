#pragma once
// Stand-ins for the platform: each scripts its replies and records what it was asked.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "service/core/service_window.h"
#include "service/platform/platform.h"

namespace quorvel::testing {

// Local time is UTC here, so tests need no time zone.
class FakeClock : public Clock {
 public:
  explicit FakeClock(CalendarTime start = 1169471109 /* 2007-01-22 13:05:09 */) : now_(start) {}
  CalendarTime Now() const override { return now_; }
  std::tm ToLocal(CalendarTime t) const override;
  CalendarTime FromLocal(std::tm& local) const override;
  std::uint32_t MillisecondsSinceStart() const override { return millis_; }
  // Sleeping only moves the tick count on.
  void Sleep(std::uint32_t milliseconds) override { millis_ += milliseconds; }
  void Advance(CalendarTime seconds) { now_ += seconds; }
  void Set(CalendarTime t) { now_ = t; }
  void SetMillis(std::uint32_t ms) { millis_ = ms; }

 private:
  CalendarTime now_;
  std::uint32_t millis_ = 0x1234;
};

// Calendar time of a UTC date, for building test times.
CalendarTime UtcTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

class FakeKeys : public KeyState {
 public:
  bool IsDown(int key) const override { return down.count(key) != 0; }
  void HoldChord() {
    down = {{kKeyControl, true}, {kKeyShift, true}, {kKeyMenu, true}, {kKeyC, true}};
  }
  std::map<int, bool> down;
};

// A serial library whose ports are scripted: bytes queued per port arrive on the next reads.
class FakeComm : public CommLibrary {
 public:
  int InitializePort(int port, int, int, int, int, int, int, int, int) override;
  int SetPortCharacteristics(int port, int baud, int, int, int, int) override;
  int PutPacket(int port, int count, const char* bytes) override;
  int GetPacket(int port, int space, char* into) override;
  int UnInitializePort(int port) override;

  // Bytes the "box" on `port` sends; delivered by the following GetPacket calls.
  void Feed(int port, const std::string& bytes) { incoming[port] += bytes; }
  // Everything written to `port`, in order.
  std::string Sent(int port) const;

  std::map<int, int> openError;  // InitializePort result per port (default 0)
  std::map<int, std::string> incoming;
  std::vector<std::pair<int, std::string>> writes;
  std::vector<std::string> calls;  // "open 3", "close 3", ...
  std::map<int, bool> open;
  bool putFails = false;
  // Called on every PutPacket, so a test can answer commands as a box would.
  std::function<void(int port, const std::string& bytes)> onWrite;
};

class FakeHttp : public HttpClient {
 public:
  HttpResponse Get(const HttpRequest& request, const std::function<void()>& beforeSend) override;
  std::vector<HttpRequest> requests;
  std::deque<HttpResponse> replies;  // next replies; when empty, `defaultReply`
  HttpResponse defaultReply{HttpResponse::Outcome::SendFailed, 0, "", false, "cannot connect"};
};

class RecordingNotifier : public Notifier {
 public:
  struct Shown {
    std::string text, caption;
    MessageIcon icon;
    MessageOwner owner;
  };
  void Show(const std::string& text, const std::string& caption, MessageIcon icon,
            MessageOwner owner) override {
    shown.push_back({text, caption, icon, owner});
    if (onShow) onShow(shown.back());
  }
  std::vector<Shown> shown;
  std::function<void(const Shown&)> onShow;
};

// INI files in memory, with the platform's reading rules.
class MemoryProfileStore : public ProfileStore {
 public:
  int GetInt(const std::string& file, const std::string& section, const std::string& key,
             int fallback) override;
  std::string GetString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& fallback, std::size_t capacity) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
  std::string LastErrorText() override { return failure; }
  void Set(const std::string& file, const std::string& key, const std::string& value,
           const std::string& section = "Options") {
    values[{file, section, key}] = value;
  }
  std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
  std::vector<std::string> writes;  // "file/section/key=value" in order
  // Writes to these files fail, with `failure` as the system's reason.
  std::set<std::string> unwritable;
  std::string failure = "Access denied.";
};

// INI files as real files in `folder`, rewritten through `files` the way the profile functions
// do it: every write reads the file, empties it and writes it out whole, and never commits
// it. The `failAt`-th write (counting from 1; 0 never) fails before it touches the file.
class FileProfileStore : public MemoryProfileStore {
 public:
  FileProfileStore(FileSystem& files, std::string folder)
      : files_(files), folder_(std::move(folder)) {}
  int GetInt(const std::string& file, const std::string& section, const std::string& key,
             int fallback) override;
  std::string GetString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& fallback, std::size_t capacity) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
  std::string PathOf(const std::string& file) override { return folder_ + "\\" + file; }
  int failAt = 0;
  int attempts = 0;

 private:
  void Load(const std::string& file);

  FileSystem& files_;
  std::string folder_;
};

class FakeProgramInfo : public ProgramInfo {
 public:
  std::string ProductVersion() const override { return version; }
  std::string version = "1.0.4.1";
};

// All fakes, wired into one Platform, with the real file system of the build.
struct FakePlatform {
  FakeClock clock;
  FakeKeys keys;
  FakeComm comm;
  std::unique_ptr<FileSystem> files = MakeSystemFileSystem();
  FakeHttp http;
  RecordingNotifier notifier;
  MemoryProfileStore profiles;
  FakeProgramInfo program;
  Platform platform{clock, keys, comm, *files, http, notifier, profiles, program};
};

// A service window's host whose timer always starts and that takes nothing else to heart.
class QuietHost : public WindowHost {
 public:
  bool StartTimer() override { return true; }
  void KillTimer() override {}
  void PostClose() override {}
};

// An options dialog that is always confirmed as it stands.
class NoOptions : public OptionsDialogRunner {
 public:
  int RunOptionsDialog() override { return kOptionsOk; }
};

}  // namespace quorvel::testing
