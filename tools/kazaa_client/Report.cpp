#include "Report.h"

#include <windows.h>

#include <mutex>

namespace standin {

namespace {

std::mutex reportLock;
HANDLE reportFile = INVALID_HANDLE_VALUE;

} // namespace

void OpenReport(const std::string& path)
{
    if (path.empty()) {
        reportFile = GetStdHandle(STD_OUTPUT_HANDLE);
        return;
    }
    // Shared for reading and writing: the test reads it while we append.
    reportFile = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Report(const std::string& event, const std::string& detail)
{
    std::string line = std::to_string(GetTickCount()) + " " + event + " " + detail + "\r\n";
    std::lock_guard<std::mutex> lock(reportLock);
    if (reportFile == INVALID_HANDLE_VALUE || !reportFile) return;
    DWORD written = 0;
    // One write per line, so a reader never sees half of one.
    WriteFile(reportFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace standin
