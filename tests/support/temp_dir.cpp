#include "tests/support/temp_dir.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quorvel::testing {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() /
         ("quorvel-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::ServicePath() const {
  std::string p = dir_.string();
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  // On Windows a file that the code under test holds open refuses the write: say so.
  if (!out) throw std::runtime_error("could not write " + File(name).string());
}

}  // namespace quorvel::testing
