// Any command line: the search never reads outside it and always gives an answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find('\n');
    std::string program = split == std::string::npos ? std::string() : text.substr(split + 1);
    std::string line = text.substr(0, split);
    std::string_view args = app::CommandArguments(line, program);
    if (args.size() > line.size()) __builtin_trap();
    (void)app::FindStartSwitch(args);
    return 0;
}
