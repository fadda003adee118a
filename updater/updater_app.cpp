// The updater program: one modal window, and the program ends when it closes. With /quiet it
// runs without any window; see command_line.h for the switches.
#include "framework/application.h"
#include "updater/command_line.h"
#include "updater/uninstall.h"
#include "updater/updater_dialog.h"

namespace quorvel::updater {
namespace {

constexpr char kWindowTitle[] = "QuorVel updater";

// The arguments after the program name.
std::vector<std::string> OwnArguments() {
  std::vector<std::string> arguments = SplitCommandLine(GetCommandLineA());
  if (!arguments.empty()) arguments.erase(arguments.begin());
  return arguments;
}

class UpdaterApp : public framework::Application {
 public:
  bool StartUp() override {
    const std::vector<std::string> given = OwnArguments();
    UpdaterArguments arguments = ParseArguments(given);
    if (arguments.badSwitch.empty() && !arguments.logFile.empty() &&
        !CanAppendTo(arguments.logFile)) {
      // Unattended, a run whose log cannot be written would go unseen.
      arguments.badSwitch = "/log=" + arguments.logFile;
    }
    if (!arguments.badSwitch.empty()) {
      if (!arguments.quiet) {
        MessageBoxA(nullptr, BadSwitchMessage(arguments.badSwitch).c_str(), kWindowTitle,
                    MB_OK | MB_ICONERROR);
      }
      exitCode_ = kBadArgumentsExitCode;
      return false;
    }
    const RunOptions options = RunOptionsFrom(arguments);
    if (arguments.quiet) {
      QuietUpdateHost host;
      host.SetLogFile(arguments.logFile);
      exitCode_ = static_cast<int>(options.uninstall ? RunUninstall(host, options)
                                                     : RunUpdate(host, options));
      return false;
    }
    UpdaterDialog dialog;
    dialog.SetLogFile(arguments.logFile);
    dialog.SetRunOptions(options);
    dialog.DoModal();
    // Without arguments the program ends with 0 whatever happened, as it always has.
    if (!given.empty()) exitCode_ = static_cast<int>(dialog.Outcome());
    return false;
  }

  int Finish(int) override { return exitCode_; }

 private:
  int exitCode_ = 0;
};

UpdaterApp theApp;

}  // namespace
}  // namespace quorvel::updater
