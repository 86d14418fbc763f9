// A browser's writer that goes on recording kills until it is stopped: records numbered from
// <first> on, into a log kept within <max KB>; it sets the named event as it begins.
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
    for (long number = std::stol(argv[3]);; ++number)
        history::ReportKill({45000.0, std::to_string(number), "source"}, argv[1], maxKb);
}
