// POPUPKILL.EXE: does what the browser helper does each time it closes a pop-up window,
// so that tests and demos can report kills without a browser:
//   1. appends one 520-byte record to the history log named by LogFile, keeping the file
//      within MaxLogSize kilobytes by dropping the oldest records;
//   2. raises KillsToDate and KillsToday (KillsToday afresh on a new day) and stores
//      today as KillDate;
//   3. sends "WM_POPUP_KILLED" to every window of class "TfrmMain" captioned "Quellor".
//
// POPUPKILL.EXE [--count N] [--interval MS] [--wait MS] [--url TEXT] [--source TEXT]
//   --wait     wait up to MS milliseconds for Quellor's window before the first kill
//   --interval pause between kills (default 1000)
// Exit code 0 when every notification reached a window, 1 on a usage error, 2 when no
// Quellor window was found, 3 when the log or the counters could not be written.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "helper_contract/HelperContract.h"
#include "settings/LocalTime.h"
#include "settings/OleDate.h"

namespace {

constexpr DWORD kRecordSize = 520;
constexpr size_t kTextField = 256;

struct Options {
    int count = 1;
    DWORD intervalMs = 1000;
    DWORD waitMs = 0;
    std::string url = "http://ads.example.com/popup.html";
    std::string source = "http://www.example.com/";
};

class Key {
  public:
    Key()
    {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key()
    {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }

    int32_t Integer(const char* name, int32_t fallback) const
    {
        int32_t value = 0;
        DWORD type = 0, size = sizeof value;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof value)
            return fallback;
        return value;
    }
    double Date(const char* name) const
    {
        double value = 0;
        DWORD type = 0, size = sizeof value;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_BINARY || size != sizeof value)
            return 0;
        return value;
    }
    std::string String(const char* name) const
    {
        char buffer[MAX_PATH * 4] = {};
        DWORD type = 0, size = sizeof buffer - 1;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        return buffer;
    }
    bool SetInteger(const char* name, int32_t value)
    {
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value) == ERROR_SUCCESS;
    }
    bool SetDate(const char* name, double value)
    {
        return RegSetValueExA(key_, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value),
                              sizeof value) == ERROR_SUCCESS;
    }

  private:
    HKEY key_ = nullptr;
};

void PutText(char* field, const std::string& text)
{
    size_t length = std::min(text.size(), kTextField - 1);
    field[0] = static_cast<char>(static_cast<unsigned char>(length));
    std::memcpy(field + 1, text.data(), length);
}

std::vector<char> Record(double when, const std::string& url, const std::string& source)
{
    std::vector<char> record(kRecordSize, '\0');
    std::memcpy(record.data(), &when, sizeof when);
    PutText(record.data() + 8, url);
    PutText(record.data() + 8 + kTextField, source);
    return record;
}

bool WriteAt(HANDLE file, uint64_t offset, const char* data, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
           WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Appends the record, dropping the oldest ones so that the file stays within maxKb
// kilobytes. A limit too small for one record leaves the file empty.
bool AppendToLog(const std::string& path, int32_t maxKb, const std::vector<char>& record)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    uint64_t records = static_cast<uint64_t>(size.QuadPart) / kRecordSize;
    uint64_t room = static_cast<uint64_t>(std::max<int32_t>(maxKb, 0)) * 1024 / kRecordSize;
    uint64_t keep = room == 0 ? 0 : std::min(records, room - 1);

    if (keep < records && keep > 0) {
        // Move the newest records to the front.
        std::vector<char> kept(static_cast<size_t>(keep * kRecordSize));
        LARGE_INTEGER from;
        from.QuadPart = static_cast<LONGLONG>((records - keep) * kRecordSize);
        DWORD read = 0;
        ok = SetFilePointerEx(file, from, nullptr, FILE_BEGIN) &&
             ReadFile(file, kept.data(), static_cast<DWORD>(kept.size()), &read, nullptr) &&
             read == kept.size() && WriteAt(file, 0, kept.data(), read);
    }
    uint64_t end = keep * kRecordSize;
    if (ok && room > 0) {
        ok = WriteAt(file, end, record.data(), kRecordSize);
        end += kRecordSize;
    }
    // Also cuts off a torn record at the end.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(end);
    ok = ok && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

BOOL CALLBACK CollectQuellor(HWND hwnd, LPARAM lp)
{
    char cls[64] = {}, caption[64] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (std::strcmp(cls, contract::kMainWindowClass) == 0 &&
        std::strcmp(caption, contract::kMainWindowCaption) == 0)
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> QuellorWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectQuellor, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// One closed pop-up window. Returns the exit code for it.
int ReportKill(const Options& options, UINT killMessage)
{
    int code = 0;
    double now = NowAsOleDate();
    Key key;
    if (!key) {
        std::fprintf(stderr, "cannot open the settings key\n");
        return 3;
    }

    std::string log = key.String(contract::kLogFile);
    if (log.empty()) {
        std::fprintf(stderr, "LogFile is not set (start Quellor once); no record written\n");
    } else if (!AppendToLog(log, key.Integer(contract::kMaxLogSize, 1000),
                            Record(now, options.url, options.source))) {
        std::fprintf(stderr, "cannot write %s (error %lu)\n", log.c_str(), GetLastError());
        code = 3;
    }

    double today = std::floor(now);
    int32_t total = key.Integer(contract::kKillsToDate, 0);
    int32_t sameDay = std::floor(key.Date(contract::kKillDate)) == today
                          ? key.Integer(contract::kKillsToday, 0)
                          : 0;
    total = total < INT32_MAX ? total + 1 : total;
    sameDay = sameDay < INT32_MAX ? sameDay + 1 : sameDay;
    if (!key.SetInteger(contract::kKillsToDate, total) ||
        !key.SetInteger(contract::kKillsToday, sameDay) ||
        !key.SetDate(contract::kKillDate, today)) {
        std::fprintf(stderr, "cannot write the kill counters\n");
        code = 3;
    }

    std::vector<HWND> windows = QuellorWindows();
    for (HWND window : windows) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, killMessage, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }
    std::printf("kill reported: %d in all, %d today, %zu window(s) told\n", total, sameDay,
                windows.size());
    if (windows.empty() && code == 0) code = 2;
    return code;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        char* end = nullptr;
        if (name == "--url") {
            options.url = value;
        } else if (name == "--source") {
            options.source = value;
        } else if (name == "--count" || name == "--interval" || name == "--wait") {
            long number = std::strtol(value, &end, 10);
            if (*end || number < 0) return false;
            if (name == "--count") options.count = static_cast<int>(number);
            if (name == "--interval") options.intervalMs = static_cast<DWORD>(number);
            if (name == "--wait") options.waitMs = static_cast<DWORD>(number);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: POPUPKILL.EXE [--count N] [--interval MS] [--wait MS] "
                             "[--url TEXT] [--source TEXT]\n");
        return 1;
    }
    UINT killMessage = RegisterWindowMessageA(contract::kKillMessageName);
    if (options.waitMs > 0 && QuellorWindows().empty()) {
        DWORD start = GetTickCount();
        while (QuellorWindows().empty() && GetTickCount() - start < options.waitMs)
            Sleep(100);
        // The window exists before the program has finished starting (paths stored, kill
        // message registered): give it a moment.
        Sleep(1500);
    }

    int code = 0;
    for (int i = 0; i < options.count; ++i) {
        if (i > 0) Sleep(options.intervalMs);
        code = std::max(code, ReportKill(options, killMessage));
        std::fflush(stdout);
    }
    return code;
}
