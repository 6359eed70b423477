#pragma once

#include <QString>

// --login and --logout. Both run on the main thread with the event loop
// alive (the sign-in hands its screen changes to the main thread) and answer
// the program's exit code.

// Signs in with `email` and a password read by readPassword(), through the
// same code as the login screen. Prints the outcome; never the password.
int signInCommand(const QString &email);

// Signs out: the local account, its tracks and its library choice are
// forgotten. The service is told too when it can be reached.
int signOutCommand();
