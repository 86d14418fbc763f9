#pragma once
// The helper's own writer: one thread per browser process, started when a kill is queued,
// records the kills in the order they happened (log, counters, notification), so that the
// browser's thread never waits on a file, a trim or a lock another process holds.
#include <windows.h>

#include <cstdint>
#include <string>

#include "history/LogEntry.h"

namespace helper {

struct TPendingKill {
    history::TLogEntry entry;
    std::string logPath;
    int32_t maxLogSizeKb = 0;
};

// Hands a kill to the writer; never waits. False when it could not be queued (out of memory).
bool QueueKill(TPendingKill kill) noexcept;

// Waits up to timeoutMs for every queued kill to be recorded, then lets an idle writer go at
// once. True when none is left.
bool DrainKills(DWORD timeoutMs) noexcept;

} // namespace helper
