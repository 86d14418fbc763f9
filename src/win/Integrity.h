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

// Creates the named mutex, or opens it when it exists already. A new one carries a low
// mandatory label with no-write-up, so that Protected Mode browsers can open and take it
// whichever process made it; its access list is the creator's default. An existing object
// keeps its own label: nothing of the user's is ever lowered. Default security where
// lowLabel is false (Windows XP). Null on failure.
Kernel CreateSharedMutex(const char* name, bool lowLabel = IsVistaOrLater());

} // namespace win
