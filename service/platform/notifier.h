#pragma once
// Message boxes the operator must see. The call returns when the operator has closed the box.
#include <string>

namespace quorvel {

enum class MessageIcon { None, Information, Exclamation };
enum class MessageOwner { None, ServiceWindow };

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void Show(const std::string& text, const std::string& caption, MessageIcon icon,
                    MessageOwner owner) = 0;
};

}  // namespace quorvel
