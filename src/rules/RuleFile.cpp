#include "rules/RuleFile.h"

#include <windows.h>

#include "win/Handles.h"

namespace rules {

std::optional<std::vector<TRule>> ReadRuleFile(const std::string& path)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return std::nullopt;

    // One read for the whole file: a writer that grows or cuts it meanwhile gives us
    // fewer whole records, never a record out of step.
    uint64_t count = RuleCount(static_cast<uint64_t>(size.QuadPart));
    if (count > 1'000'000) return std::nullopt; // no rule file of ours is that big
    std::vector<TRuleRecord> records(static_cast<size_t>(count));
    DWORD got = 0;
    if (count > 0 && !ReadFile(file.get(), records.data(),
                               static_cast<DWORD>(count * kRuleRecordSize), &got, nullptr))
        return std::nullopt;

    std::vector<TRule> rules;
    rules.reserve(records.size());
    for (size_t i = 0; i < got / kRuleRecordSize; ++i)
        if (auto rule = DecodeRule(records[i])) rules.push_back(std::move(*rule));
    return rules;
}

} // namespace rules
