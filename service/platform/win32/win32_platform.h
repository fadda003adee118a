#pragma once
// The Win32 side of the platform interfaces (except files, serial library and HTTP, which
// have their own adapters).
#include <windows.h>

#include "service/platform/platform.h"

namespace quorvel {

class SystemClock : public Clock {
 public:
  CalendarTime Now() const override;
  std::tm ToLocal(CalendarTime t) const override;
  CalendarTime FromLocal(std::tm& local) const override;
  std::uint32_t MillisecondsSinceStart() const override;
  void Sleep(std::uint32_t milliseconds) override;
};

class AsyncKeyState : public KeyState {
 public:
  bool IsDown(int virtualKey) const override;
};

// Message boxes; those owned by the service window use the window handle given later.
class MessageBoxNotifier : public Notifier {
 public:
  void SetServiceWindow(HWND window) { serviceWindow_ = window; }
  void Show(const std::string& text, const std::string& caption, MessageIcon icon,
            MessageOwner owner) override;

 private:
  HWND serviceWindow_ = nullptr;
};

class PrivateProfileStore : public ProfileStore {
 public:
  int GetInt(const std::string& file, const std::string& section, const std::string& key,
             int fallback) override;
  std::string GetString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& fallback,
                        std::size_t capacity) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
  std::string PathOf(const std::string& file) override;
  std::string LastErrorText() override { return lastError_; }

 private:
  std::string lastError_;
};

class ModuleProgramInfo : public ProgramInfo {
 public:
  std::string ProductVersion() const override;
};

// Full path of the running program file.
std::string ProgramFilePath();
// Product version of a file's version resource as "a.b.c.d"; empty when it has none.
std::string FileProductVersion(const std::string& path);

}  // namespace quorvel
