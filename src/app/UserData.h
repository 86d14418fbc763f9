#pragma once
// The user's own rule file and log, where they live apart from the program (Windows Vista
// and later, app/Paths.h). Before Vista they lie in the program folder and nothing here
// acts.

namespace app {

// At a normal start: the data folders exist afterwards. On a user's first start, when the
// program folder holds a rule file or log and the user has none, it is copied over; the
// program folder's copy is left as it is.
void PrepareUserData();

// At uninstallation: the current user's rule file and logs, then their folders where empty.
void RemoveUserData();

} // namespace app
