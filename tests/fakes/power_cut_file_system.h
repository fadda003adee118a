#pragma once
// The real file system of the build, with a record of what a power cut would leave of it:
// each file as of its last commit, a replacement or removal that returned, and nothing of a
// file never committed. The power can be cut right after any operation; the test then puts
// only what survived on the disk and starts the logic again on it.
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "service/platform/file_system.h"

namespace quorvel::testing {

class PowerCutFileSystem : public FileSystem {
 public:
  // Thrown from the operation after which the power goes.
  struct PowerCut {};

  PowerCutFileSystem();

  // A file the test wrote before the run: it is on the disk already.
  void TakeAsDurable(const std::string& path);
  // The power goes right after operation `k`, counting from 1; 0 never.
  void CutAfter(int k) { cutAfter_ = k; }
  int operations() const { return operations_; }
  // Leaves on the disk exactly what would survive the cut, and stops cutting.
  void LeaveOnlyDurable();

  // Another program holding these files open, sharing reading and writing: a replacement of
  // them fails. Opening `busy` files fails although they exist.
  std::set<std::string> held;
  std::set<std::string> busy;

  FileHandle Open(const std::string& path, const char* mode, bool denyWrite) override;
  bool Commit(std::FILE* file) override;
  bool Replace(const std::string& source, const std::string& target) override;
  bool Exists(const std::string& path) override;
  bool Remove(const std::string& path) override;
  bool Truncate(const std::string& path, std::int64_t size) override;

 private:
  void Step();
  std::optional<std::string> ReadNow(const std::string& path);

  std::unique_ptr<FileSystem> real_ = MakeSystemFileSystem();
  std::map<std::string, std::string> durable_;  // path -> contents on the disk itself
  std::set<std::string> touched_;
  std::map<std::FILE*, std::string> openPaths_;
  int operations_ = 0;
  int cutAfter_ = 0;
};

}  // namespace quorvel::testing
