#pragma once
// The rule file: read into rows of (stored URL bytes, kind) and written back in place.
// The browser helper reads it while the tray program may be rewriting it, so every open
// shares reading and writing, and the file is never replaced.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rules/RuleRecord.h"

namespace rules {

// No rule file of ours is bigger; the Rules Engine page reads no more.
inline constexpr std::uint64_t kMaxRuleRecords = 1'000'000;

// Every rule of the file's first maxRecords records, in file order; records whose kind is
// not 1 to 4 and trailing bytes are skipped. Nothing when the file cannot be opened or read.
std::optional<std::vector<TRule>> ReadRuleFile(const std::string& path,
                                               std::uint64_t maxRecords = kMaxRuleRecords);

// The same rows for the Rules Engine page: a file that cannot be opened is a
// win::EQuellorError naming it and the system's reason.
std::vector<TRule> LoadRuleFile(const std::string& path);

// Writes the rows over the file, in place: grown first (a full disk stops the save before
// any old rule is overwritten), then written, then cut to length, or where it cannot be cut
// the records after the new ones blanked. Each failure is a win::EQuellorError naming the
// file; a save that failed before writing leaves the file as it was.
void SaveRuleFile(const std::string& path, const std::vector<TRule>& rows);

} // namespace rules
