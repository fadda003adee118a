#pragma once

namespace quorvel {

// Virtual-key codes the service asks about (same values as the platform's).
enum VirtualKey : int { kKeyShift = 0x10, kKeyControl = 0x11, kKeyMenu = 0x12, kKeyC = 0x43 };

class KeyState {
 public:
  virtual ~KeyState() = default;
  // True when the key is down at this moment (most significant bit of the asynchronous state).
  virtual bool IsDown(int virtualKey) const = 0;
};

}  // namespace quorvel
