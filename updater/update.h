#pragma once
// The update run: check the payloads, stop the service, find or choose the installed program,
// write the new files and register the program to start at logon.
#include <cstdint>
#include <deque>
#include <string>

#include "updater/status_lines.h"

namespace quorvel::updater {

inline constexpr char kDefaultTargetPath[] = "C:\\quorvl\\quorveld.exe";

// Everything a run uses; the updater's window provides it.
class UpdateHost : public StatusLines {
 public:
  virtual std::uint32_t ComputePayloadCrc(int id) = 0;
  virtual std::uint32_t ReadStoredCrc(int id) = 0;
  virtual bool IsServiceRunning() = 0;
  virtual bool StopService(std::string& targetPath) = 0;
  virtual bool FileIsPresent(const std::string& path) = 0;
  // Appends what it finds to FoundList().
  virtual void SearchForServiceProgram() = 0;
  virtual std::deque<std::string>& FoundList() = 0;
  // Lets the user choose among FoundList(), leaving the choice alone in it; true when the
  // chooser ended with OK.
  virtual bool SelectFile() = 0;
  // Offers a fresh installation; true for Yes.
  virtual bool AskToInstall() = 0;
  // Product version halves of a program file; false when it has no version information.
  virtual bool GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                                 std::uint32_t& leastSignificant) = 0;
  virtual bool WritePayloadFile(const std::string& target, const char* fileName, int id) = 0;
  // Sets the autorun value to `path`; false when the key cannot be opened or the value set.
  virtual bool SetAutorun(const std::string& path) = 0;
};

// "1.0.4.1" style, from the two halves of a version.
std::string FormatVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant);

void RunUpdate(UpdateHost& host);

}  // namespace quorvel::updater
