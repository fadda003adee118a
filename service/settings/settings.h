#pragma once
// The settings record and its store, quorveld.INI section "Options".
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "service/platform/file_system.h"
#include "service/platform/profile_store.h"

namespace quorvel {

constexpr int kPortCount = 256;
constexpr const char* kSettingsFile = "quorveld.INI";
// Beside the settings file while a save rewrites it: the settings before the save.
constexpr const char* kSettingsCopySuffix = ".copy";
constexpr const char* kSettingsSection = "Options";
// Server used when the store has no ServerDomain key at all.
constexpr const char* kDefaultServerHost = "localhost";
// Server used when ServerDomain is present but empty.
constexpr const char* kFallbackServerAddress = "127.0.0.1";
constexpr std::size_t kSettingTextCapacity = 4096;

struct Settings {
  std::array<std::uint8_t, kPortCount> PortSelected{};  // entry i: COM(i+1) takes part
  std::int32_t BoxRate = 0;
  std::int32_t UploadRate = 0;
  std::string LocalDir;
  std::int32_t Logging = 0;
  std::string ServerDomain;
  std::int32_t ServerPort = 0;
  std::int32_t SynchronizeClocks = 0;
  std::int32_t Encrypt = 0;
  std::int32_t IgnoreProxy = 0;
  std::int32_t Secure = 0;  // 1: HTTPS to the server; any other stored value reads as 0
};

// Everything before the last backslash of the program path; the whole path without one.
std::string ProgramDirectory(const std::string& programPath);

// Reads every setting with its default and replacement rules.
Settings ReadSettings(ProfileStore& store, const std::string& programDirectory);

// Writes the ten settings the options dialog edits, in the store's order. Secure is not one
// of them: it stays in the store as it was. Stops at the first write that fails: false.
bool WriteSettings(ProfileStore& store, const Settings& settings);

// Where the copy of quorveld.INI stands while a save rewrites it: beside it, so that the next
// start finds it whatever LocalDir the save was writing. Empty where the store is no file.
std::string SettingsCopyPath(ProfileStore& store);

// Writes the settings so that a kill or power cut leaves quorveld.INI with all the old values
// or all the new ones: the profile functions rewrite the file in place once for every key, so
// a committed copy of it stands beside it until the last write is on the disk, and a write
// that fails puts the old file back. Nothing when saved; else the file that could not be
// written and the system's reason.
std::optional<WriteFailure> SaveSettings(ProfileStore& store, FileSystem& files,
                                         const Settings& settings);

// Before the settings are read: the copy of a save that was cut off puts the old file back.
void RestoreSettingsFile(ProfileStore& store, FileSystem& files);

// Expands a compact ComPorts text into one flag character per port (may exceed 256).
std::string DecodePortFlags(const std::string& compact);
// Compresses a text of "0"/"1" flags into the compact ComPorts form.
std::string EncodePortFlags(const std::string& flags);

// Number of selected ports.
int SelectedPortCount(const Settings& settings);
// The 256 flags as "0"/"1" text, port index 0 first.
std::string PortFlagText(const Settings& settings);

}  // namespace quorvel
