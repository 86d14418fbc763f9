// How fast the History Log page fills from a log at the size box's largest setting
// (10,000 KB, 19,692 entries), against the bare cost of the same work with no list at all:
// reading, decoding and formatting every entry. Also, for comparison, the same rows put
// into an ordinary (not virtual) list. Then one kill appended to that full page, viewed at
// its end so that the view follows, against the bare cost of reading, decoding and
// formatting the one new record and showing one more row. Run with `make bench`.
#include <windows.h>
// (psapi.h needs windows.h first)
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "app/Paths.h"
#include "app/frmMain.h"
#include "history/LogText.h"
#include "history/QuellorLogFile.h"

namespace {

constexpr int kRuns = 5;
constexpr size_t kLogBytes = 10000 * 1024;
constexpr size_t kEntries = kLogBytes / history::kLogEntrySize; // 19,692

// A fixed pseudo-random sequence, so every run reads the same file.
struct Random {
    unsigned state = 12345;
    unsigned Next(unsigned bound)
    {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    }
};

void PutText(std::string& record, size_t field, const std::string& text)
{
    record[field] = static_cast<char>(text.size());
    record.replace(field + 1, text.size(), text);
}

// Entries as a browser helper writes them: some minutes apart, URLs and sources of
// varied length, some padded with blanks.
std::string MakeLog(std::vector<std::string>& lastTexts)
{
    static const char* const hosts[] = {"ads.example.com", "pop.example.net",
                                        "www.shop.example.org", "tracker.example.info",
                                        "banner.example.co.uk"};
    Random random;
    std::string log;
    log.reserve(kEntries * history::kLogEntrySize);
    double time = 45000.0; // 15 March 2023
    std::string url, source;
    for (size_t i = 0; i < kEntries; ++i) {
        time += random.Next(600) / 1440.0;
        url = "http://" + std::string(hosts[random.Next(5)]) + "/popup/" +
              std::to_string(random.Next(100000)) +
              "?campaign=" + std::string(random.Next(120), 'c');
        source = "http://www.site" + std::to_string(random.Next(500)) + ".example.com/" +
                 std::string(random.Next(80), 'p');
        if (random.Next(4) == 0) url += "    ";
        url.resize(std::min<size_t>(url.size(), 255));
        source.resize(std::min<size_t>(source.size(), 255));

        std::string record(history::kLogEntrySize, '\0');
        record.replace(0, 8, reinterpret_cast<const char*>(&time), 8);
        PutText(record, 8, url);
        PutText(record, 8 + history::kTextFieldSize, source);
        log += record;
    }
    lastTexts = {history::LogTimeText(time), history::TrimRight(url), source};
    return log;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}


// The page as a user gets it: entered, filled, shown and painted.
double FillPage(TfrmMain& form)
{
    form.pageMain.SetActivePage(form.tabDefault);
    Pump();
    double start = bench::Seconds();
    form.pageMain.SetActivePage(form.tabHistory);
    form.pageMainChange(&form.pageMain);
    UpdateWindow(form.Handle());
    return bench::Seconds() - start;
}

// The same reading, decoding and formatting, with no list.
double BareCost(const std::string& path, size_t& rows)
{
    double start = bench::Seconds();
    TQuellorLogFile log(path);
    history::TLogEntry entry;
    size_t characters = 0;
    rows = 0;
    while (log.ReadNext(entry)) {
        for (const std::string& text : history::LogRowTexts(entry))
            characters += text.size();
        ++rows;
    }
    double elapsed = bench::Seconds() - start;
    if (characters == 0) rows = 0; // keeps the work from being optimised away
    return elapsed;
}

void AppendToLog(const std::string& path, const std::string& record)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

ULONGLONG BytesRead()
{
    IO_COUNTERS counters{};
    GetProcessIoCounters(GetCurrentProcess(), &counters);
    return counters.ReadTransferCount;
}

// One kill reported to the page on the screen, as the browser helper reports it, painted.
double AppendOneKill(TfrmMain& form, ULONGLONG& bytesRead)
{
    ULONGLONG before = BytesRead();
    double start = bench::Seconds();
    SendMessageA(form.Handle(), form.KillMessage, 0, 0);
    UpdateWindow(form.Handle());
    double elapsed = bench::Seconds() - start;
    bytesRead = BytesRead() - before;
    return elapsed;
}

// The bare cost of the same: the one new record opened, read, decoded and formatted, and
// the list control told of one more row and painted, as any list that shows it must be.
double BareAppend(TfrmMain& form, const std::string& path)
{
    double start = bench::Seconds();
    TQuellorLogFile log(path);
    history::TLogEntry entry;
    size_t characters = 0;
    if (log.Seek(log.RecordCount() - 1) && log.ReadNext(entry))
        for (const std::string& text : history::LogRowTexts(entry))
            characters += text.size();
    SendMessageA(form.lvwLog.Handle(), LVM_SETITEMCOUNT, form.lvwLog.Count(),
                 LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    UpdateWindow(form.Handle());
    double elapsed = bench::Seconds() - start;
    return characters > 0 ? elapsed : 0;
}

// For comparison: the rows inserted one by one into an ordinary report list, hidden.
double FillOrdinaryList(TfrmMain& form, const std::string& path)
{
    ui::TListView list;
    list.Create(form.grpKillList, 8, 24, 497, 185, false);
    list.AddColumn("Time", 138);
    list.AddColumn("URL", 180);
    list.AddColumn("Source", 150);
    list.SetVisible(false);
    double start = bench::Seconds();
    list.BeginUpdate();
    TQuellorLogFile log(path);
    history::TLogEntry entry;
    while (log.ReadNext(entry))
        list.AddItem(history::LogRowTexts(entry));
    list.EndUpdate();
    list.SetVisible(true);
    UpdateWindow(form.Handle());
    double elapsed = bench::Seconds() - start;
    DestroyWindow(list.Handle());
    return elapsed;
}

} // namespace

int main()
{
    ui::TApplication& application = ui::Application();
    application.Title = "Quellor";
    application.Initialize();
    int boxes = 0;
    application.MessageBoxHook = [&](HWND, const std::string& text, const std::string&, UINT) {
        std::printf("unexpected message box: %s\n", text.c_str());
        ++boxes;
        return IDOK;
    };

    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    std::string folder =
        std::string(temp) + "quellor bench " + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    app::SetProgramPathForTests(folder + "QUELLOR.EXE");
    // The log beside the program, as before Vista: where it lies does not change the cost.
    app::SetUserFoldersForTests({});
    std::string path = folder + "QUELLOR.log";

    std::vector<std::string> last;
    std::string log = MakeLog(last);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, log.data(), static_cast<DWORD>(log.size()), &written, nullptr);
    CloseHandle(file);
    size_t logBytes = log.size();
    std::string().swap(log); // not part of what is measured

    PROCESS_MEMORY_COUNTERS memory{};
    int failures = 0;
    std::vector<double> page, bare, append, bareAppend;
    ULONGLONG appendBytes = 0;
    double ordinary = 0;
    {
        TfrmMain form;
        application.SetMainForm(&form);
        form.Show();
        Pump();
        for (int run = 0; run < kRuns; ++run) {
            size_t rows = 0;
            bare.push_back(BareCost(path, rows));
            if (rows != kEntries) ++failures;
            page.push_back(FillPage(form));
        }

        // Every row is there, and the last one can be selected and scrolled to.
        int count = form.lvwLog.Count();
        int lastRow = count - 1;
        form.lvwLog.Select(lastRow);
        SendMessageA(form.lvwLog.Handle(), LVM_ENSUREVISIBLE, lastRow, FALSE);
        bool lastOk = form.lvwLog.SelectedIndex() == lastRow &&
                      form.lvwLog.ItemText(lastRow, 0) == last[0] &&
                      form.lvwLog.ItemText(lastRow, 1) == last[1] &&
                      form.lvwLog.ItemText(lastRow, 2) == last[2];
        if (count != static_cast<int>(kEntries) || !lastOk || !form.lvwLog.Visible()) ++failures;
        std::printf("rows in the list: %d of %u; last row selectable with its texts: %s\n", count,
                    static_cast<unsigned>(kEntries), lastOk ? "yes" : "NO");

        // Kills while the full page is shown, its last row in view: only the new record is
        // read.
        for (int run = 0; run < kRuns; ++run) {
            history::TLogEntry kill{45100.0 + run, "http://new.example/kill" + std::to_string(run),
                                    "http://www.site.example.com/"};
            std::string record(history::kLogEntrySize, '\0');
            history::EncodeLogEntry(
                kill, std::span<unsigned char, history::kLogEntrySize>(
                          reinterpret_cast<unsigned char*>(record.data()), record.size()));
            AppendToLog(path, record);
            ULONGLONG bytes = 0;
            append.push_back(AppendOneKill(form, bytes));
            appendBytes = std::max(appendBytes, bytes);
            // The first record (to see that the log was not trimmed) and the new one.
            if (bytes > 2 * history::kLogEntrySize) ++failures;
            bareAppend.push_back(BareAppend(form, path));
            int rows = form.lvwLog.Count();
            if (rows != static_cast<int>(kEntries) + run + 1 ||
                form.lvwLog.ItemText(rows - 1, 1) != kill.URL)
                ++failures;
        }

        // The page's memory, before the comparison list adds its own.
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        ordinary = FillOrdinaryList(form, path);
        application.SetMainForm(nullptr);
    }

    double pageTime = bench::Median(page), bareTime = bench::Median(bare);
    std::printf("log file: %u bytes, %u entries; median of %d runs\n",
                static_cast<unsigned>(logBytes), static_cast<unsigned>(kEntries), kRuns);
    std::printf("History Log page filled:           %8.1f ms (best %.1f)\n", pageTime * 1000,
                *std::min_element(page.begin(), page.end()) * 1000);
    std::printf("read + decode + format, no list:   %8.1f ms (best %.1f)\n", bareTime * 1000,
                *std::min_element(bare.begin(), bare.end()) * 1000);
    std::printf("ratio page / bare:                 %8.2f\n", pageTime / bareTime);
    std::printf("ordinary list, for comparison:     %8.1f ms (ratio %.2f)\n", ordinary * 1000,
                ordinary / bareTime);
    std::printf("peak working set:                  %8.1f MB\n",
                memory.PeakWorkingSetSize / 1048576.0);
    std::printf("peak private bytes:                %8.1f MB\n",
                memory.PeakPagefileUsage / 1048576.0);
    std::printf("goal (under 1 s and within 5x):    %s\n",
                pageTime < 1.0 && pageTime / bareTime <= 5.0 ? "met" : "MISSED");

    double appendTime = bench::Median(append), bareAppendTime = bench::Median(bareAppend);
    std::printf("one kill appended to %u rows:   %8.2f ms (best %.2f)\n",
                static_cast<unsigned>(kEntries), appendTime * 1000,
                *std::min_element(append.begin(), append.end()) * 1000);
    std::printf("  bytes of the log read for it:    %s\n",
                appendBytes == 0 ? "(not counted by this system)"
                                 : std::to_string(appendBytes).c_str());
    std::printf("that record read, a row more shown:%8.2f ms\n", bareAppendTime * 1000);
    std::printf("ratio kill / bare:                 %8.2f (the page filled anew: %.1f)\n",
                appendTime / bareAppendTime, pageTime / bareAppendTime);

    DeleteFileA(path.c_str());
    RemoveDirectoryA(folder.c_str());
    return failures + boxes == 0 ? 0 : 1;
}
