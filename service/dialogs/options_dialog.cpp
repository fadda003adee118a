// Interim: the dialog itself is not built yet; the settings are written back unchanged.
#include "service/dialogs/options_dialog.h"

#include "service/core/service_window.h"

namespace quorvel {

int ShowOptionsDialog(Settings& settings, ProfileStore& store) {
  WriteSettings(store, settings);
  return kOptionsOk;
}

}  // namespace quorvel
