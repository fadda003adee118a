#include "updater/start_session.h"

namespace quorvel::updater {

StartWhere ChooseStartSession(const SessionFacts& facts) {
  if (facts.ownSession != kServicesSession) return StartWhere::OwnSession;
  return facts.userLoggedOn ? StartWhere::UserSession : StartWhere::AtNextLogOn;
}

}  // namespace quorvel::updater
