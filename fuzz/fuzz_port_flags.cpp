// The settings store's text: the input is taken both as a ComPorts value and as the lines
// "Key=Value" of the section "Options".
// DecodePortFlags on any text; EncodePortFlags of the decoded flags (as 0/1) decodes back to
// them; ReadSettings yields a usable record and selects exactly the ports the text says.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/settings/settings.h"
#include "tests/fakes/fakes.h"

namespace {

using quorvel::DecodePortFlags;
using quorvel::EncodePortFlags;
using quorvel::kPortCount;
using quorvel::kSettingsFile;
using quorvel::Settings;
using quorvel::testing::MemoryProfileStore;

constexpr const char* kProgramDirectory = "C:\\quorvl";

// Every character of `flags` that is "1" selects; anything else does not.
std::string AsZeroOne(const std::string& flags) {
  std::string out(flags.size(), '0');
  for (std::size_t i = 0; i < flags.size(); ++i)
    if (flags[i] == '1') out[i] = '1';
  return out;
}

void CheckDecodeEncode(const std::string& compact) {
  const std::string flags = DecodePortFlags(compact);
  // One flag per character, or at most 79 repeats per three characters.
  FUZZ_CHECK(flags.size() <= compact.size() * 79 / 3 + 1, "%zu flags from %zu characters",
             flags.size(), compact.size());
  for (const char c : flags)
    FUZZ_CHECK(compact.find(c) != std::string::npos, "flag '%c' not in the text", c);

  const std::string zeroOne = AsZeroOne(flags);
  const std::string encoded = EncodePortFlags(zeroOne);
  FUZZ_CHECK(encoded.size() <= zeroOne.size(), "encoding of %zu flags has %zu characters",
             zeroOne.size(), encoded.size());
  FUZZ_CHECK(encoded.find_first_not_of("0123456789") == std::string::npos, "encoded '%s'",
             encoded.c_str());
  FUZZ_CHECK(DecodePortFlags(encoded) == zeroOne, "'%s' does not decode back", encoded.c_str());
}

// The lines of the input as keys and values of the section "Options".
MemoryProfileStore StoreFrom(const std::string& text) {
  MemoryProfileStore store;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos)
      store.Set(kSettingsFile, line.substr(0, equals), line.substr(equals + 1));
  }
  return store;
}

std::string SelectedFlags(const Settings& s) {
  std::string flags(kPortCount, '0');
  for (int i = 0; i < kPortCount; ++i) {
    FUZZ_CHECK(s.PortSelected[i] <= 1, "port flag %d is %d", i, s.PortSelected[i]);
    if (s.PortSelected[i]) flags[i] = '1';
  }
  return flags;
}

// The ports the store selects: ComPorts when present, else the legacy single ComPort.
std::string ExpectedFlags(MemoryProfileStore& store) {
  const std::string compact =
      store.GetString(kSettingsFile, "Options", "ComPorts", "", quorvel::kSettingTextCapacity);
  std::string expected(kPortCount, '0');
  if (store.values.count({kSettingsFile, "Options", "ComPorts"})) {
    const std::string flags = AsZeroOne(DecodePortFlags(compact));
    std::copy_n(flags.begin(), std::min<std::size_t>(flags.size(), kPortCount), expected.begin());
    return expected;
  }
  const int legacy = std::max(store.GetInt(kSettingsFile, "Options", "ComPort", 0), 0);
  if (legacy < kPortCount) expected[static_cast<std::size_t>(legacy)] = '1';
  return expected;
}

void CheckSettings(const std::string& text) {
  MemoryProfileStore store = StoreFrom(text);
  const Settings s = quorvel::ReadSettings(store, kProgramDirectory);
  FUZZ_CHECK(s.BoxRate != 0 && s.UploadRate != 0, "rates %d %d", s.BoxRate, s.UploadRate);
  FUZZ_CHECK(s.ServerPort != 0, "server port 0");
  FUZZ_CHECK(!s.LocalDir.empty() && !s.ServerDomain.empty(), "empty folder or server");
  FUZZ_CHECK(s.LocalDir.size() < quorvel::kSettingTextCapacity &&
                 s.ServerDomain.size() < quorvel::kSettingTextCapacity,
             "text longer than its buffer");
  const std::string selected = SelectedFlags(s);
  const std::string expected = ExpectedFlags(store);
  FUZZ_CHECK(selected == expected, "selected %s\n  expected %s", selected.c_str(),
             expected.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckDecodeEncode(text);
  CheckSettings(text);
  return 0;
}
