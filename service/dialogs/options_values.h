#pragma once
// What the options dialog decides without the platform: the values it edits, the file check
// behind its OK button and how the port list stands for the port flags.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "service/settings/settings.h"
#include "service/platform/file_system.h"

namespace quorvel {

using PortFlags = std::array<std::uint8_t, kPortCount>;

// The dialog's own copy of the settings, in the types its controls exchange.
struct OptionsValues {
  unsigned boxRate = 24;
  unsigned uploadRate = 1;
  std::string localDir;
  int logging = 0;
  std::string serverDomain = "127.0.0.1";
  unsigned serverPort = 80;
  int synchronizeClocks = 1;
  int encrypt = 0;
  int ignoreProxy = 0;
  PortFlags portFlags{};
};

OptionsValues ValuesFromSettings(const Settings& settings);
// Copies every value back; LocalDir loses all its trailing backslashes.
void StoreValues(const OptionsValues& values, Settings& settings);

// "C:\data\\" -> "C:\data".
std::string StripTrailingBackslashes(std::string path);

// Tries to open the log and the cache for appending in `localDir`, creating them when
// missing, and closes them again. Empty when both opened; otherwise the question that names
// every file that failed.
std::string CheckLocalFiles(FileSystem& files, const std::string& localDir);

// The box over the dialog when the settings could not be written: that they were not saved,
// the file and the system's reason.
std::string NotSavedMessage(const WriteFailure& failure);

struct PortItem {
  std::string text;  // what the list shows, e.g. "Com 3"
  int data;          // the port index the item stands for
  bool selected;
};

// One item per port found, in the order found; `textFormat` holds "%u" for the port number.
std::vector<PortItem> PortItems(const std::vector<unsigned>& portsFound, const PortFlags& flags,
                                const std::string& textFormat);

// Rebuilds every flag from the data of the selected items, ignoring data that names no port.
// False when nothing is selected.
bool FlagsFromSelection(const std::vector<long long>& selectedData, PortFlags& flags);

}  // namespace quorvel
