#include "updater/service_stop.h"

namespace quorvel::updater {
namespace {

constexpr long long kAgreesToClose = 1;
constexpr unsigned kCloseWait = 2000;
constexpr unsigned kTerminatedExitCode = 666;
constexpr unsigned kTerminateWait = 1000;

}  // namespace

bool StopService(ServiceProcess& service, StatusLines& status, std::string& targetPath) {
  const bool haveMutex = service.OpenServiceMutex();
  const bool haveRunningProgram = service.FindServiceProcess();
  if (!haveMutex && !haveRunningProgram) {
    status.AddStatusLine("quorveld is not running.");
    return true;
  }
  const bool haveWindow = service.FindServiceWindow();
  // A mutex alone: the service is starting, or another program holds the name.
  if (!haveWindow && !haveRunningProgram) {
    status.AddStatusLine("Unable to find program window.");
    return false;
  }
  const bool haveProcess = service.OpenProcess();
  targetPath = service.ModulePath();
  status.AddStatusLine("Shutting it down.");
  bool stopped = false;
  if (haveWindow && service.AskToClose() == kAgreesToClose &&
      service.WaitForServiceToEnd(kCloseWait)) {
    status.AddStatusLine("Shutdown complete.");
    stopped = true;
  } else {
    status.AddStatusLine("Terminating process.");
    if (!haveProcess) return false;
    service.Terminate(kTerminatedExitCode, kTerminateWait);
  }
  if (haveProcess) {
    if (service.HasEnded()) stopped = true;
    service.CloseProcess();
  }
  return stopped;
}

}  // namespace quorvel::updater
