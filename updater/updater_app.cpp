// The updater program: one modal window, and the program ends when it closes.
#include "framework/application.h"
#include "updater/updater_dialog.h"

namespace quorvel::updater {
namespace {

class UpdaterApp : public framework::Application {
 public:
  bool StartUp() override {
    UpdaterDialog dialog;
    dialog.DoModal();
    return false;
  }
};

UpdaterApp theApp;

}  // namespace
}  // namespace quorvel::updater
