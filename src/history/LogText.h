#pragma once
// How a log entry reads on the History Log page, in the user's own date and time formats.
#include <string>
#include <vector>

#include "history/LogEntry.h"

namespace history {

// The user's short date, then one blank and the long time unless it is midnight. Empty for
// a value that is no date (a damaged record), so that its URL and Source are still shown.
std::string LogTimeText(double time);

// The row of the list: date-time text, URL and Source without trailing blanks.
std::vector<std::string> LogRowTexts(const TLogEntry& entry);

} // namespace history
