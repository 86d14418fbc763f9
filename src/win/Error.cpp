#include "win/Error.h"

#include <cstdio>

namespace win {

std::string SystemErrorText(HRESULT hr)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message;
    if (length && text) message.assign(text, length);
    if (text) LocalFree(text);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (message.empty()) {
        char fallback[64];
        std::snprintf(fallback, sizeof fallback, "System error 0x%08lX",
                      static_cast<unsigned long>(hr));
        message = fallback;
    }
    return message;
}

} // namespace win
