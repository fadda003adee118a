// Drives our programs' windows from tests, under Wine in the same prefix and display.
// usage: guidriver [-t seconds] <command> <arguments...>; results go to stdout, one per line.
// Windows are named by title, optionally "title|class". Exit code 0 on success, 2 when a
// window or control did not turn up in time, 4 for any other failure, each failure with a line
// on stderr. Never 1: Wine ends a process with 1 when its wine server kills it, or when it
// cannot open the process's connection to the X display, silently under WINEDEBUG=-all, so a
// 1 is never ours.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTimedOut = 2;
constexpr int kFailed = 4;
// The text control of a message box.
constexpr int kMessageBoxTextId = 0xFFFF;

double gTimeout = 10.0;

HWND FindTopLevel(const std::string& name) {
  const std::size_t bar = name.find('|');
  const std::string title = name.substr(0, bar);
  const std::string windowClass = bar == std::string::npos ? "" : name.substr(bar + 1);
  return FindWindowA(windowClass.empty() ? nullptr : windowClass.c_str(), title.c_str());
}

HWND WaitWindow(const std::string& name, bool visible) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(gTimeout);
  for (;;) {
    HWND window = FindTopLevel(name);
    if (window && (!visible || IsWindowVisible(window))) return window;
    if (std::chrono::steady_clock::now() >= end) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string Text(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

int Fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "guidriver: %s: %s\n", what, name.c_str());
  return kFailed;
}

int TimedOut(const std::string& name) {
  std::fprintf(stderr, "guidriver: timed out waiting for %s\n", name.c_str());
  return kTimedOut;
}

void KeyChord(const std::vector<WORD>& keys, int holdMilliseconds) {
  std::vector<INPUT> down, up;
  for (WORD key : keys) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    down.push_back(in);
    in.ki.dwFlags = KEYEVENTF_KEYUP;
    up.insert(up.begin(), in);
  }
  SendInput(static_cast<UINT>(down.size()), down.data(), sizeof(INPUT));
  // Held long enough for a program that samples the keys on a timer to see them.
  std::this_thread::sleep_for(std::chrono::milliseconds(holdMilliseconds));
  SendInput(static_cast<UINT>(up.size()), up.data(), sizeof(INPUT));
}

bool IsMultipleSelection(HWND list) {
  return (GetWindowLongA(list, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

int ButtonId(const std::string& name) {
  if (name == "yes") return IDYES;
  if (name == "no") return IDNO;
  if (name == "ok") return IDOK;
  if (name == "cancel") return IDCANCEL;
  return std::atoi(name.c_str());
}

int PatchResource(const std::string& exe, const std::string& type, int id,
                  const std::string& file) {
  FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) return Fail("cannot read", file);
  std::vector<char> bytes;
  for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<char>(c));
  std::fclose(in);
  HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
  if (!update) return Fail("cannot open for resource update", exe);
  const BOOL replaced = UpdateResourceA(update, type.c_str(), MAKEINTRESOURCEA(id),
                                        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), bytes.data(),
                                        static_cast<DWORD>(bytes.size()));
  if (!EndUpdateResourceA(update, !replaced) || !replaced) return Fail("cannot update", exe);
  return 0;
}

// Commands on a control of a window: args are window, control id, extra.
int ControlCommand(const std::string& command, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("missing arguments for", command);
  HWND window = WaitWindow(args[0], false);
  if (!window) return TimedOut(args[0]);
  HWND control = GetDlgItem(window, std::atoi(args[1].c_str()));
  if (!control) return Fail("no control", args[1]);
  if (command == "get-text") {
    Print(Text(control));
  } else if (command == "set-text") {
    if (args.size() < 3) return Fail("missing text for", command);
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str()));
  } else if (command == "click") {
    SendMessageA(control, BM_CLICK, 0, 0);
  } else if (command == "post-click") {
    // For a click that opens a modal box: sending would block until the box closed.
    PostMessageA(control, BM_CLICK, 0, 0);
  } else if (command == "list-items") {
    const LRESULT count = SendMessageA(control, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      // Asked in Unicode: Wine hands an ANSI list box's item of another process back in
      // UTF-16 to an ANSI caller.
      const LRESULT length = SendMessageW(control, LB_GETTEXTLEN, i, 0);
      std::vector<wchar_t> wide(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
      SendMessageW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()));
      std::vector<char> text(wide.size() * 2, '\0');
      WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, text.data(), static_cast<int>(text.size()),
                          nullptr, nullptr);
      const bool selected = SendMessageA(control, LB_GETSEL, i, 0) > 0;
      Print(std::string(selected ? "*" : " ") + text.data());
    }
  } else if (command == "select") {
    if (args.size() < 3) return Fail("missing index for", command);
    const int index = std::atoi(args[2].c_str());
    const LRESULT result = IsMultipleSelection(control)
                               ? SendMessageA(control, LB_SETSEL, TRUE, index)
                               : SendMessageA(control, LB_SETCURSEL, index, 0);
    if (result == LB_ERR) return Fail("cannot select", args[2]);
  } else {
    return Fail("unknown command", command);
  }
  return 0;
}

int Run(const std::string& command, const std::vector<std::string>& args) {
  if (command == "chord") {
    // Ctrl+Shift+Alt+C, as an operator holds it.
    KeyChord({VK_CONTROL, VK_SHIFT, VK_MENU, 'C'}, args.empty() ? 500 : std::atoi(args[0].c_str()));
    return 0;
  }
  if (command == "patch-resource") {
    if (args.size() < 4) return Fail("usage", "patch-resource <exe> <type> <id> <file>");
    return PatchResource(args[0], args[1], std::atoi(args[2].c_str()), args[3]);
  }
  if (args.empty()) return Fail("missing window for", command);
  if (command == "exists") {
    Print(FindTopLevel(args[0]) ? "1" : "0");
    return 0;
  }
  if (command == "wait-gone") {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(gTimeout);
    while (FindTopLevel(args[0])) {
      if (std::chrono::steady_clock::now() >= end) return TimedOut(args[0]);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  if (command != "wait-window" && command != "title" && command != "box-text" &&
      command != "answer" && command != "close" && command != "escape" && command != "alt-f4" &&
      command != "syscommand" && command != "query-end-session" && command != "foreground" &&
      command != "post-close") {
    return ControlCommand(command, args);
  }
  // The end-of-session query and post-close also reach hidden windows (the service's).
  HWND window = WaitWindow(args[0], command != "query-end-session" && command != "post-close");
  if (!window) return TimedOut(args[0]);
  if (command == "wait-window") {
    char className[256] = {};
    GetClassNameA(window, className, sizeof(className));
    Print(className);
  } else if (command == "title") {
    Print(Text(window));
  } else if (command == "box-text") {
    Print(Text(GetDlgItem(window, kMessageBoxTextId)));
  } else if (command == "answer") {
    // answer <caption> <yes|no|ok|cancel>: prints the box's text, then presses the button.
    if (args.size() < 2) return Fail("missing button for", command);
    Print(Text(GetDlgItem(window, kMessageBoxTextId)));
    HWND button = GetDlgItem(window, ButtonId(args[1]));
    if (!button) return Fail("no button", args[1]);
    PostMessageA(button, BM_CLICK, 0, 0);
  } else if (command == "close" || command == "post-close") {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else if (command == "escape") {
    SetForegroundWindow(window);
    KeyChord({VK_ESCAPE}, 50);
  } else if (command == "alt-f4") {
    SetForegroundWindow(window);
    KeyChord({VK_MENU, VK_F4}, 50);
  } else if (command == "syscommand") {
    const WPARAM code = args.size() > 1 ? std::strtoul(args[1].c_str(), nullptr, 0) : SC_CLOSE;
    PostMessageA(window, WM_SYSCOMMAND, code, 0);
  } else if (command == "foreground") {
    Print(GetForegroundWindow() == window ? "1" : "0");
  } else {
    Print(std::to_string(SendMessageA(window, WM_QUERYENDSESSION, 0, 0)));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Texts go out byte for byte: a multi-line edit's CR LF must not become CR CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "-t") {
    gTimeout = std::atof(args[1].c_str());
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::fprintf(stderr, "usage: guidriver [-t seconds] <command> <arguments...>\n");
    return kFailed;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  const int result = Run(command, args);
  std::fflush(stdout);
  return result;
}
