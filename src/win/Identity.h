#pragma once
// Who this process runs as, under User Account Control (Windows Vista and later): the rights
// its token holds, the elevation prompt, and the shell of the desktop, which runs as the
// desktop's own user without elevation. Below the user interface.
#include <windows.h>

#include <string>

namespace win {

// The token is elevated (an administrator past the elevation prompt, or UAC turned off);
// false before Vista, which has no such thing.
bool IsElevated();

// Membership of the Administrators group that counts: a standard user's token, and an
// administrator's before elevation, hold that group only to deny.
bool HasAdministratorRights();

// Starts `file` (a program, or an address) through the shell that runs the desktop, as a
// double-click on the desktop would: with the rights of the desktop's user, never this
// process's. False when there is no such shell or it refused.
bool ShellExecuteAsDesktopUser(const std::string& file, const std::string& parameters,
                               const std::string& folder, int show);

struct ElevatedRun {
    enum class Outcome { Ran, Refused, Failed } outcome = Outcome::Failed;
    DWORD exitCode = 0; // when it ran
    DWORD error = 0;    // when it failed
};

// Runs the program with the elevation prompt and waits for it to end, handling this
// thread's messages meanwhile. Refused: the user said no at the prompt.
ElevatedRun RunElevated(const std::string& program, const std::string& parameters,
                        const std::string& folder);

// The same without the prompt: as this process's user (never Refused).
ElevatedRun RunAndWait(const std::string& program, const std::string& parameters,
                       const std::string& folder);

} // namespace win
