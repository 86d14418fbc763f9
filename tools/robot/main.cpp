// ROBOT.EXE <pid> [button ...]: answers the dialogs of a running process with the
// given buttons, in order, and prints each one as caption|text|icon|clicked.
#include "Robot.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kGiveUpMs = 60000;

std::string OneLine(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    DWORD pid = argc > 1 ? std::strtoul(argv[1], &end, 0) : 0;
    if (!pid || *end) {
        std::fprintf(stderr, "usage: ROBOT.EXE <pid> [button ...]\n");
        return 2;
    }
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) {
        std::fprintf(stderr, "no process %lu (error %lu)\n", pid, GetLastError());
        return 2;
    }

    robot::Robot robot(pid, std::vector<std::string>(argv + 2, argv + argc));
    size_t printed = 0;
    auto printNew = [&] {
        std::vector<robot::DialogSeen> seen = robot.Seen();
        for (; printed < seen.size(); ++printed) {
            const robot::DialogSeen& d = seen[printed];
            std::printf("%s|%s|%s|%s\n", OneLine(d.caption).c_str(), OneLine(d.text).c_str(),
                        d.icon.c_str(), d.clicked.c_str());
        }
        std::fflush(stdout);
    };

    ULONGLONG deadline = GetTickCount64() + kGiveUpMs;
    bool ended = false;
    while (!ended && GetTickCount64() < deadline) {
        ended = WaitForSingleObject(process, 100) == WAIT_OBJECT_0;
        printNew();
    }
    // The robot may still be reading a dialog the process closed on its own.
    robot.WaitForCount(printed + 1, ended ? 2000 : 0);
    printNew();
    CloseHandle(process);
    if (!ended) {
        std::fprintf(stderr, "process %lu still running after %lu s\n", pid, kGiveUpMs / 1000);
        return 1;
    }
    return 0;
}
