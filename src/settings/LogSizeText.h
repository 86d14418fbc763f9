#pragma once
// What the text of the log-size box stands for. Platform-free.
#include <optional>
#include <string>

namespace settings {

// The log-size box's range (KB) and the size before any is stored.
inline constexpr int kMinLogSize = 0;
inline constexpr int kMaxLogSize = 10000;
inline constexpr int kDefaultLogSize = 1000;

// A whole decimal number (blanks around it and one sign allowed) clamped into
// [low, high]; nothing when the text is not such a number (empty, letters, "12a").
std::optional<int> LogSizeFromText(const std::string& text, int low, int high);

} // namespace settings
