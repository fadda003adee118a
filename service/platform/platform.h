#pragma once
// Everything the service's logic reaches outside itself, in one bundle.
#include "service/platform/clock.h"
#include "service/platform/comm_library.h"
#include "service/platform/file_system.h"
#include "service/platform/http_client.h"
#include "service/platform/key_state.h"
#include "service/platform/notifier.h"
#include "service/platform/profile_store.h"

namespace quorvel {

// Facts about the running program file.
class ProgramInfo {
 public:
  virtual ~ProgramInfo() = default;
  // Product version of the program file as "a.b.c.d"; empty when it has none.
  virtual std::string ProductVersion() const = 0;
};

struct Platform {
  Clock& clock;
  KeyState& keys;
  CommLibrary& comm;
  FileSystem& files;
  HttpClient& http;
  Notifier& notifier;
  ProfileStore& profiles;
  ProgramInfo& program;
};

}  // namespace quorvel
