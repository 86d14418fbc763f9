#pragma once
// Integrity levels (Windows Vista and later) and the one kind of object that processes of
// every level share: the writers' mutex. Below the user interface: the browser helper
// uses it too.
#include <windows.h>

#include "helper_contract/KillPolicy.h"
#include "win/Handles.h"
#include "win/Vista.h"

namespace win {

// The level of this process's token; None where Windows has no integrity levels (XP).
contract::Integrity ProcessIntegrity();
// The same of any token opened with TOKEN_QUERY.
contract::Integrity TokenIntegrity(HANDLE token);

// Creates the named mutex, or opens it when it exists already, with no rights but to wait
// on it and release it (SYNCHRONIZE | MUTEX_MODIFY_STATE). A new one has an access list of
// its own, whoever makes it, elevated or at low integrity: full rights for the creator's
// user, the two rights for the desktop's user where that is another (read from the shell's
// process where it can be), nothing for anyone else. Where lowLabel is true (Vista and
// later) it also carries a low mandatory label with no-write-up, so that Protected Mode
// browsers can take it. An existing object keeps its own security: nothing of the user's
// is ever lowered. Null on failure.
Kernel CreateSharedMutex(const char* name, bool lowLabel = IsVistaOrLater());

} // namespace win
