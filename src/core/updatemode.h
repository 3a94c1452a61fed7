#pragma once

// Update mode: a freshly downloaded launcher build, started as "newLauncher.exe
// -update", installs itself over "launcher.exe" and starts it again.

// The option update mode passes to the launcher it starts when the new build could
// not be put in place: that run tells the player and offers no update again.
extern const char selfUpdateFailedOption[];

// True when one of the arguments, the program name included, is exactly option.
bool hasOption(int argc, char **argv, const char *option);
// True when one of the arguments is exactly "-update".
bool hasUpdateOption(int argc, char **argv);

// Waits for the old launcher to quit, copies the new build over it, records the
// new launcher version, starts the installed launcher and ends the process with
// status 1 (the returned status, when a test keeps the process alive).
int runUpdateMode();

// Hands over to the new build fetched as "newLauncher.exe": it and launcher.exe
// made runnable, it is started with "-update" and this process ends with status
// 1. False, with nothing ended, when it could not be started.
bool handOverToNewBuild();
