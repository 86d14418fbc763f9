// Any text in the log-size box gives no number or a number inside the range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/LogSizeText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto value = settings::LogSizeFromText(text, 0, 10000))
        if (*value < 0 || *value > 10000) std::abort();
    return 0;
}
