#include "updater/win32_update_host.h"

#include "updater/command_line.h"
#include "updater/paths.h"

namespace quorvel::updater {
namespace {

constexpr int kRemoveAttempts = 4;
constexpr unsigned kPauseBetweenAttempts = 500;

HANDLE OpenForAppending(const std::string& path) {
  // Others may read the log while we run, and a second updater may append to it too.
  return CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool CanAppendTo(const std::string& path) {
  HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void Win32UpdateHost::LogStatusLine(const std::string& line) {
  if (logFile_.empty()) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::string text =
      FormatLogLine({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}, line);
  // Opened for each line, so that every line is on disk even if the run is cut short.
  HANDLE file = OpenForAppending(logFile_);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::uint32_t Win32UpdateHost::ComputePayloadCrc(int id) {
  return updater::ComputePayloadCrc(id);
}

std::uint32_t Win32UpdateHost::ReadStoredCrc(int id) {
  return updater::ReadStoredCrc(id);
}

bool Win32UpdateHost::IsServiceRunning() {
  return updater::IsServiceRunning();
}

bool Win32UpdateHost::StopService(std::string& targetPath) {
  return updater::StopService(service_, *this, targetPath);
}

bool Win32UpdateHost::FileIsPresent(const std::string& path) {
  return updater::FileIsPresent(path);
}

bool Win32UpdateHost::GetProductVersion(const std::string& path, std::uint32_t& mostSignificant,
                                        std::uint32_t& leastSignificant) {
  return updater::GetProductVersion(path, mostSignificant, leastSignificant);
}

bool Win32UpdateHost::WritePayloadSet(const std::string& target,
                                      const std::vector<PayloadFile>& files) {
  return updater::WritePayloadSet(payloadDisk_, target, files);
}

bool Win32UpdateHost::InstallationIsComplete(const std::string& target) {
  return updater::InstallationIsComplete(payloadDisk_, target);
}

bool Win32UpdateHost::IsReleaseCopy(const std::string& path) {
  return payloadDisk_.Exists(DirectoryOf(path) + kReleaseMarkerName);
}

bool Win32UpdateHost::LibraryMatchesPayload(const std::string& target, const char* fileName,
                                            int id) {
  return updater::LibraryMatchesPayload(payloadDisk_, target, fileName, id);
}

bool Win32UpdateHost::SetAutorun(const std::string& path) {
  return updater::SetAutorun(path);
}

std::string Win32UpdateHost::ReadAutorun() {
  return updater::ReadAutorun();
}

StartResult Win32UpdateHost::StartProgramAt(const std::string& path) {
  // While we hold the service's mutex a starting service takes itself for a second copy.
  service_.ReleaseServiceMutex();
  return StartProgram(path);
}

bool Win32UpdateHost::InstallUninstaller(const std::string& path) {
  const std::string own = updater::OwnImagePath();
  if (SameWindowsPath(own, path)) return true;
  return !own.empty() && CopyInstalledFile(payloadDisk_, own, path);
}

bool Win32UpdateHost::WriteUninstallEntry(const UninstallEntry& entry) {
  return updater::WriteUninstallEntry(entry);
}

std::uint64_t Win32UpdateHost::FileSize(const std::string& path) {
  return updater::FileSize(path);
}

std::string Win32UpdateHost::GetCompanyName(const std::string& path) {
  return updater::GetCompanyName(path);
}

std::string Win32UpdateHost::ReadUninstallEntryProgram() {
  return updater::ReadUninstallEntryProgram();
}

bool Win32UpdateHost::RemoveAutorun() {
  return updater::RemoveAutorun();
}

bool Win32UpdateHost::RemoveUninstallEntry() {
  return updater::RemoveUninstallEntry();
}

bool Win32UpdateHost::RemoveFile(const std::string& path) {
  // A program that has just ended, or a virus scanner, may hold the file for a moment.
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    if (attempt > 0) payloadDisk_.Pause(kPauseBetweenAttempts);
    payloadDisk_.ClearReadOnly(path);
    payloadDisk_.Remove(path);
    if (!payloadDisk_.Exists(path)) return true;
  }
  return false;
}

std::string Win32UpdateHost::OwnImagePath() {
  return updater::OwnImagePath();
}

SelfRemoval Win32UpdateHost::RemoveOwnImage(const std::string& path) {
  return updater::RemoveOwnImage(path);
}

std::vector<std::string> Win32UpdateHost::FolderContents(const std::string& folder) {
  return updater::FolderContents(folder);
}

bool Win32UpdateHost::RemoveFolder(const std::string& folder) {
  return updater::RemoveFolder(folder);
}

std::string Win32UpdateHost::ReadDataFolder() {
  return updater::ReadDataFolder();
}

void QuietUpdateHost::SearchForServiceProgram() {
  Win32SearchDisk disk(nullptr, nullptr);
  updater::SearchForServiceProgram(disk, FoundList());
}

}  // namespace quorvel::updater
