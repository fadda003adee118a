#pragma once
// The operator's options dialog.
#include "service/settings/settings.h"
#include "service/platform/file_system.h"
#include "service/platform/profile_store.h"

namespace quorvel {

// Shows the options dialog over a copy of `settings`. Every exit button writes the edited
// values to the settings store before the dialog closes; a failed write is said in a message
// box over the dialog, and after OK the dialog then stays open. Whatever button closes it,
// copies the edited values back into `settings` and returns the dialog's result code
// (OptionsResult).
int ShowOptionsDialog(Settings& settings, ProfileStore& store, FileSystem& files);

}  // namespace quorvel
