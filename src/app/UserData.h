#pragma once
// The user's own rule file and log, where they live apart from the program (Windows Vista
// and later, app/Paths.h). Before Vista they lie in the program folder and nothing here
// acts.

namespace app {

// At a normal start: the data folders that can be used exist afterwards. A rule file or
// log in the program folder is copied into the user's folder, never over a file the user
// has, and the program folder's copy left as it is. Each start tries again until every
// copy for a folder succeeded once; after that no start copies anything, so a log the user
// cleared stays cleared.
void PrepareUserData();

// At uninstallation: the current user's rule file and logs, then their folders where empty.
void RemoveUserData();

} // namespace app
