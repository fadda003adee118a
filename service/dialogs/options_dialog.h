#pragma once
// The operator's options dialog.
#include "service/settings/settings.h"
#include "service/platform/profile_store.h"

namespace quorvel {

// Shows the options dialog over a copy of `settings`; whatever button closes it, copies the
// edited values back into `settings`, writes them to the settings store and returns the
// dialog's result code (OptionsResult).
int ShowOptionsDialog(Settings& settings, ProfileStore& store);

}  // namespace quorvel
