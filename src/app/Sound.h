#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace app {

// Every sound of the program goes through here; tests record the calls instead.
void PlaySoundFile(const std::string& file, DWORD flags);
extern std::function<void(const std::string& file, DWORD flags)> PlaySoundHook;

} // namespace app
