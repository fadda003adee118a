// Who deletes a framework window object, whether its window is created or not. Windows only:
// real windows, under Wine in the test run.
#include <doctest.h>

#include <set>

#include "framework/window.h"

namespace quorvel {
namespace {

constexpr const char* kProbeClass = "QuorvelProbeWindow";

enum class Refusal { None, NcCreate, Create };

// Every probe alive, and how often each message of interest reached one.
struct Ledger {
  std::set<const void*> alive;
  int constructed = 0;
  int destructed = 0;
  int ncDestroys = 0;
  int handleDestroyedCalls = 0;
};

Ledger ledger;

// A window that refuses its creation as told; one that owns itself deletes itself once
// destroyed, as the service's window does.
class ProbeWindow : public framework::Window {
 public:
  ProbeWindow(Refusal refusal, bool ownsItself) : refusal_(refusal), ownsItself_(ownsItself) {
    ++ledger.constructed;
    ledger.alive.insert(this);
  }
  ~ProbeWindow() override {
    ++ledger.destructed;
    ledger.alive.erase(this);
  }

  bool Create() {
    return framework::Window::Create(0, kProbeClass, "probe", WS_POPUP, RECT{0, 0, 20, 20},
                                     nullptr);
  }

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NCCREATE && refusal_ == Refusal::NcCreate) return FALSE;
    if (message == WM_CREATE && refusal_ == Refusal::Create) return -1;
    if (message == WM_NCDESTROY) ++ledger.ncDestroys;
    return Default(message, wParam, lParam);
  }
  void HandleDestroyed() override {
    ++ledger.handleDestroyedCalls;
    if (ownsItself_) delete this;
  }

 private:
  Refusal refusal_;
  bool ownsItself_;
};

void StartLedger() {
  ledger = Ledger{};
  framework::Window::RegisterWindowClass(kProbeClass, 0, nullptr, nullptr, nullptr);
}

TEST_CASE("a window refused during its creation is left to its creator, who deletes it once") {
  StartLedger();
  Refusal refusal = Refusal::None;
  SUBCASE("refused in WM_NCCREATE") { refusal = Refusal::NcCreate; }
  SUBCASE("refused in WM_CREATE") { refusal = Refusal::Create; }

  auto* probe = new ProbeWindow(refusal, /*ownsItself=*/true);
  CHECK_FALSE(probe->Create());
  // The framework must not have deleted it: only then may the creator.
  REQUIRE(ledger.alive.count(probe) == 1);
  CHECK(ledger.handleDestroyedCalls == 0);
  CHECK(probe->Handle() == nullptr);
  if (refusal == Refusal::Create) CHECK(ledger.ncDestroys == 1);  // the half-made window went
  delete probe;
  CHECK(ledger.constructed == 1);
  CHECK(ledger.destructed == 1);
}

TEST_CASE("a created window's object is deleted exactly once, by its owner") {
  StartLedger();
  HWND hwnd = nullptr;
  SUBCASE("an object that owns itself goes when its window is destroyed") {
    auto* probe = new ProbeWindow(Refusal::None, /*ownsItself=*/true);
    REQUIRE(probe->Create());
    hwnd = probe->Handle();
    DestroyWindow(hwnd);
    CHECK(ledger.handleDestroyedCalls == 1);
  }
  SUBCASE("an object its creator owns outlives its window, unbound") {
    ProbeWindow probe(Refusal::None, /*ownsItself=*/false);
    REQUIRE(probe.Create());
    hwnd = probe.Handle();
    DestroyWindow(hwnd);
    CHECK(ledger.handleDestroyedCalls == 1);
    CHECK(probe.Handle() == nullptr);
  }
  SUBCASE("an object its creator deletes takes its window with it") {
    {
      ProbeWindow probe(Refusal::None, /*ownsItself=*/false);
      REQUIRE(probe.Create());
      hwnd = probe.Handle();
    }
    CHECK(ledger.handleDestroyedCalls == 0);
  }
  CHECK_FALSE(IsWindow(hwnd));
  CHECK(ledger.constructed == 1);
  CHECK(ledger.destructed == 1);
  CHECK(ledger.alive.empty());
}

}  // namespace
}  // namespace quorvel
