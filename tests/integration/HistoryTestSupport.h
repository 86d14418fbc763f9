#pragma once
// Log records built byte by byte, another process that appends to a log, and a pinned
// locale, for the history tests.
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace historytest {

// One 520-byte record: the time's eight bytes as stored (little-endian), then each text
// field as a length byte and 255 bytes; "fill" is what lies after each text.
inline std::string RecordBytes(const std::string& time8, unsigned char urlLength,
                               const std::string& url, unsigned char sourceLength,
                               const std::string& source, char fill = '\0')
{
    if (time8.size() != 8 || url.size() > 255 || source.size() > 255)
        throw std::invalid_argument("bad record");
    std::string r(520, fill);
    r.replace(0, 8, time8);
    r[8] = static_cast<char>(urlLength);
    r.replace(9, url.size(), url);
    r[264] = static_cast<char>(sourceLength);
    r.replace(265, source.size(), source);
    return r;
}

inline std::string Record(double time, const std::string& url, const std::string& source)
{
    return testsupport::LogRecordBytes(time, url, source);
}

// Runs peers/history_append.cpp, built beside this test program, and waits for it.
inline DWORD AppendFromAnotherProcess(const std::string& path, const std::string& bytes)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string exe = self;
    exe = exe.substr(0, exe.find_last_of('\\') + 1) + "history_append.exe";
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    std::string command = "\"" + exe + "\" \"" + path + "\" " + hex;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
        throw std::runtime_error("cannot start " + exe);
    DWORD code = 99;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 98);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// Sets some of the user's locale values for one test and puts the old ones back.
class PinnedLocale {
  public:
    PinnedLocale(std::vector<std::pair<LCTYPE, std::string>> values)
    {
        for (const auto& [type, value] : values) {
            char old[128] = {};
            GetLocaleInfoA(LOCALE_USER_DEFAULT, type, old, sizeof old);
            saved_.emplace_back(type, old);
            if (!SetLocaleInfoA(LOCALE_USER_DEFAULT, type, value.c_str()))
                throw std::runtime_error("cannot pin locale value " + value);
        }
    }
    ~PinnedLocale()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            SetLocaleInfoA(LOCALE_USER_DEFAULT, it->first, it->second.c_str());
    }
    PinnedLocale(const PinnedLocale&) = delete;
    PinnedLocale& operator=(const PinnedLocale&) = delete;

  private:
    std::vector<std::pair<LCTYPE, std::string>> saved_;
};

} // namespace historytest
