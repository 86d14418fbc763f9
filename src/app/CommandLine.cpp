#include "app/CommandLine.h"

namespace app {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (prefix.empty() || text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::string_view CommandArguments(std::string_view line, std::string_view programPath)
{
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) ++start;
    line.remove_prefix(start);
    if (!line.empty() && line.front() == '"') {
        size_t close = line.find('"', 1);
        return close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
    }
    if (StartsWithNoCase(line, programPath) &&
        (line.size() == programPath.size() || IsBlank(line[programPath.size()])))
        return line.substr(programPath.size());
    size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    return line.substr(end);
}

StartSwitch FindStartSwitch(std::string_view arguments)
{
    std::string lower(arguments);
    for (char& c : lower) c = Lower(c);
    auto has = [&](const char* a, const char* b) {
        return lower.find(a) != std::string::npos || lower.find(b) != std::string::npos;
    };
    if (has(" /u", " -u")) return StartSwitch::Uninstall;
    if (has(" /i", " -i")) return StartSwitch::Install;
    return StartSwitch::None;
}

bool HasWord(std::string_view arguments, std::string_view word)
{
    size_t at = 0;
    while (at < arguments.size()) {
        while (at < arguments.size() && IsBlank(arguments[at])) ++at;
        size_t end = at;
        while (end < arguments.size() && !IsBlank(arguments[end])) ++end;
        if (end - at == word.size() && StartsWithNoCase(arguments.substr(at), word)) return true;
        at = end;
    }
    return false;
}

} // namespace app
