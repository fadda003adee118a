#pragma once
// Asking a running service to end, and making sure it has.
#include <string>

#include "updater/status_lines.h"

namespace quorvel::updater {

// What the updater can reach of a running service: its mutex, its window and its process. Run
// from another session (a management agent's account), the mutex of the user's session and the
// window are out of sight, while the process is not.
class ServiceProcess {
 public:
  virtual ~ServiceProcess() = default;
  // Opens the service's mutex (the session's or the machine-wide one) and keeps it open until
  // the updater ends, so that a service started meanwhile does not run. False when no service
  // holds either.
  virtual bool OpenServiceMutex() = 0;
  // Finds a process of the service program in any session, by its program file's name.
  virtual bool FindServiceProcess() = 0;
  // Finds the service's window; false when there is none.
  virtual bool FindServiceWindow() = 0;
  // Opens the process of that window, or else the process found; false when it cannot be opened.
  virtual bool OpenProcess() = 0;
  // Full path of the service program in that process, or "" when it is not found.
  virtual std::string ModulePath() = 0;
  // Sends the end-of-session query to the window and gives the reply (1: it agrees to close);
  // a program that does not answer within a few seconds gives 0.
  virtual long long AskToClose() = 0;
  // Waits up to `milliseconds` for the service to end (its mutex abandoned, or without the
  // mutex its process ended); true when it has.
  virtual bool WaitForServiceToEnd(unsigned milliseconds) = 0;
  // Terminates the opened process with `exitCode`, then waits up to `milliseconds` for it.
  virtual void Terminate(unsigned exitCode, unsigned milliseconds) = 0;
  // True when the opened process's exit code can be read and says it has ended.
  virtual bool HasEnded() = 0;
  virtual void CloseProcess() = 0;
};

// Ends a running service: asks it to close where its window can be reached, and terminates it
// when it refuses, hangs, cannot be asked or does not end in time. True when no service runs any
// more. `targetPath` becomes the path of the service's program file ("" when it cannot be learnt)
// once its window has been found.
bool StopService(ServiceProcess& service, StatusLines& status, std::string& targetPath);

}  // namespace quorvel::updater
