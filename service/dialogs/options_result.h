#pragma once
// What closed the options dialog: the codes the dialog ends with and the scheduler acts on.

namespace quorvel {

enum OptionsResult : int {
  kOptionsOk = 1,
  kOptionsShutDown = 2,
  kOptionsBoxTest = 1014,
  kOptionsServerTest = 1016,
};

}  // namespace quorvel
