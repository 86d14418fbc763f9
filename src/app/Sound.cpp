#include "app/Sound.h"

#include <mmsystem.h>

namespace app {

std::function<void(const std::string& file, DWORD flags)> PlaySoundHook;

void PlaySoundFile(const std::string& file, DWORD flags)
{
    if (PlaySoundHook) {
        PlaySoundHook(file, flags);
        return;
    }
    PlaySoundA(file.c_str(), nullptr, flags);
}

} // namespace app
