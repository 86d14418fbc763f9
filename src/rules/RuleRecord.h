#pragma once
// Rule kinds and the 257-byte record of the rule file, which the browser helper reads too.
// Platform-free: built natively for the sanitizer and fuzz tests.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rules {

// The code is what the file stores; a kind's position in the editor's list is code - 1.
enum TRuleKind : std::uint8_t {
    rkAllowWhileVisiting = 1,
    rkAllowStartsWith = 2,
    rkKillWhileVisiting = 3,
    rkKillStartsWith = 4,
};
inline constexpr int kRuleKindCount = 4;

bool IsRuleKind(int code);
// The text the list and the editor show; empty for a code that is no kind.
std::string_view RuleKindText(int code);

inline constexpr std::size_t kMaxRuleUrl = 255;

// Length byte, the URL in the system's ANSI code page (no terminator), kind byte.
struct TRuleRecord {
    std::uint8_t urlLength;
    char url[kMaxRuleUrl];
    std::uint8_t kind;
};
static_assert(sizeof(TRuleRecord) == 257, "the file's record is 257 bytes, no gaps");
// The 32-bit and the 64-bit helper read the same bytes: byte-aligned members only.
static_assert(offsetof(TRuleRecord, url) == 1 && offsetof(TRuleRecord, kind) == 256 &&
                  alignof(TRuleRecord) == 1,
              "the record's layout is the same at every bitness");
inline constexpr std::size_t kRuleRecordSize = sizeof(TRuleRecord);

struct TRule {
    std::string url;
    TRuleKind kind = rkAllowWhileVisiting;
    bool operator==(const TRule&) const = default;
};

// A zeroed record with the URL cut to its first 255 bytes; the kind byte is written as given.
TRuleRecord EncodeRule(std::string_view url, int kind);
// The rule of a record, or nothing when its kind byte is not 1 to 4. Bytes after the URL
// are ignored.
std::optional<TRule> DecodeRule(const TRuleRecord& record);

// Whole records in a file of that size; trailing bytes hold none.
inline std::uint64_t RuleCount(std::uint64_t fileSize)
{
    return fileSize / kRuleRecordSize;
}

} // namespace rules
