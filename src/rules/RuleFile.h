#pragma once
// Reading the rule file outside the Rules Engine page: the browser helper reads it while
// the tray program may be rewriting it, so reading and writing stay shared.
#include <optional>
#include <string>
#include <vector>

#include "rules/RuleRecord.h"

namespace rules {

// Every rule of the file in file order; records whose kind is not 1 to 4 and trailing
// bytes are skipped. Nothing when the file cannot be opened or read.
std::optional<std::vector<TRule>> ReadRuleFile(const std::string& path);

} // namespace rules
