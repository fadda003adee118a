#pragma once
// Where the updater starts the service program. Remote-management tools run the updater in the
// services' session (session 0), where no user sees a window and whence a started program
// would later fight the user's copy over its port and cache.
namespace quorvel::updater {

inline constexpr unsigned kServicesSession = 0;

struct SessionFacts {
  unsigned ownSession = 1;
  // True when a user is logged on at the console and the updater may start a program as them.
  bool userLoggedOn = true;
};

enum class StartWhere {
  OwnSession,   // started by the updater, as it always was
  UserSession,  // started as the logged-on user, in their session
  AtNextLogOn,  // nobody to start it for: the autorun value starts it
};

StartWhere ChooseStartSession(const SessionFacts& facts);

}  // namespace quorvel::updater
