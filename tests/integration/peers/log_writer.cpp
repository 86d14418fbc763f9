// A browser's writer that goes on recording kills until it is stopped: records numbered from
// <first> on, each kept on disk and then taken into a log kept within <max KB> and counted,
// as a browser's writer does; it sets the named event as it begins.
// Usage: log_writer <log file> <max KB> <first> <event>
#include <windows.h>

#include <string>

#include "history/LogWriter.h"

int main(int argc, char** argv)
{
    if (argc != 5) return 2;
    const int maxKb = std::stoi(argv[2]);
    HANDLE begun = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
    if (!begun || !SetEvent(begun)) return 3;
    win::Kernel lock = history::CreateWriterMutex();
    history::TKillRecording how;
    how.notify = false;
    for (long number = std::stol(argv[3]);; ++number) {
        if (!history::KeepKill(argv[1], {45000.0, std::to_string(number), "source"})) return 4;
        history::RecordKeptKills(lock.get(), argv[1], maxKb, how);
    }
}
