// A closed pop-up window reported the way the browser helper reports it (POPUPKILL.EXE),
// with QUELLOR.EXE running as a process: its tray icon flashes, seen on the screen.
#include <cmath>
#include <cstring>

#include "E2eSupport.h"

using e2e::FreshProgramFolder;
using e2e::TrayIconsWidth;
using e2e::WaitFor;
using robot::FindTopWindow;
using robot::Process;

namespace {

const char kKey[] = "Software\\Tandrel\\Quellor";

std::string PopupKill()
{
    std::string path = "Z:" POPUPKILL_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Runs the stand-in once and gives its exit code.
DWORD ReportKill(const std::string& args, const std::string& folder)
{
    Process tool = Process::Start(PopupKill(), args, folder);
    EXPECT_TRUE(tool) << tool.StartError();
    DWORD code = 99;
    EXPECT_TRUE(tool.WaitExit(20000, &code));
    return code;
}

void SetDword(const char* name, DWORD value)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
}

void SetRaw(const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

// A stored value's bytes; empty when it is missing.
std::string Get(const char* name)
{
    char data[64] = {};
    DWORD size = sizeof data;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(data, size) : std::string();
}

DWORD GetDword(const char* name)
{
    std::string bytes = Get(name);
    DWORD value = 0xFFFFFFFF;
    if (bytes.size() == 4) memcpy(&value, bytes.data(), 4);
    return value;
}

double GetDate(const char* name)
{
    std::string bytes = Get(name);
    double value = -1;
    if (bytes.size() == 8) memcpy(&value, bytes.data(), 8);
    return value;
}

// Today as an OLE date: days since 30 December 1899, local time.
double Today()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    FILETIME file{}, epoch{};
    SystemTimeToFileTime(&now, &file);
    SYSTEMTIME start{1899, 12, 0, 30, 0, 0, 0, 0};
    SystemTimeToFileTime(&start, &epoch);
    ULARGE_INTEGER a{{file.dwLowDateTime, file.dwHighDateTime}};
    ULARGE_INTEGER b{{epoch.dwLowDateTime, epoch.dwHighDateTime}};
    return std::floor(static_cast<double>(a.QuadPart - b.QuadPart) / 864000000000.0);
}

std::string Record(double when, const std::string& url, const std::string& source)
{
    std::string record(520, '\0');
    memcpy(&record[0], &when, 8);
    record[8] = static_cast<char>(url.size());
    memcpy(&record[9], url.data(), url.size());
    record[264] = static_cast<char>(source.size());
    memcpy(&record[265], source.data(), source.size());
    return record;
}

std::string UrlOf(const std::string& log, size_t index)
{
    const char* field = log.data() + index * 520 + 8;
    return std::string(field + 1, static_cast<unsigned char>(field[0]));
}

class KillReport : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey); }

    // Starts Quellor and waits for its icon to settle in the tray.
    Process StartQuellor(const std::string& folder)
    {
        int before = TrayIconsWidth();
        Process quellor = Process::Start(folder + "QUELLOR.EXE", "", folder);
        EXPECT_TRUE(quellor) << quellor.StartError();
        EXPECT_NE(FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 10000), nullptr);
        EXPECT_TRUE(WaitFor([&] { return TrayIconsWidth() >= before + 16; }, 5000));
        return quellor;
    }

    static std::vector<DWORD> SettledTray()
    {
        std::vector<DWORD> last = testsupport::TrayPixels();
        WaitFor(
            [&] {
                Sleep(200);
                std::vector<DWORD> now = testsupport::TrayPixels();
                bool same = now == last;
                last = now;
                return same;
            },
            5000);
        return last;
    }

    // Watches the tray while a kill is reported: did it ever look different?
    static bool FlashesWhileReporting(const std::string& folder, const std::vector<DWORD>& normal)
    {
        Process tool = Process::Start(PopupKill(), "--url http://ads.example.com/one.html", folder);
        EXPECT_TRUE(tool);
        bool changed = false;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 2500) {
            changed = changed || testsupport::TrayPixels() != normal;
            Sleep(15);
        }
        DWORD code = 99;
        EXPECT_TRUE(tool.WaitExit(10000, &code));
        EXPECT_EQ(code, 0u) << "Quellor's window was told";
        return changed;
    }

    static void End(Process& quellor, HWND main)
    {
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        DWORD code = 0;
        EXPECT_TRUE(quellor.WaitExit(10000, &code));
    }
};

} // namespace

TEST_F(KillReport, AKillFlashesQuellorsTrayIconAndIsLoggedAndCounted)
{
    std::string folder = FreshProgramFolder("kill");
    Process quellor = StartQuellor(folder);
    HWND main = FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 1000);
    ASSERT_NE(main, nullptr);
    std::vector<DWORD> normal = SettledTray();
    ASSERT_FALSE(normal.empty());

    EXPECT_TRUE(FlashesWhileReporting(folder, normal)) << "the alert icon was never seen";
    EXPECT_TRUE(WaitFor([&] { return testsupport::TrayPixels() == normal; }, 3000))
        << "the normal icon is back";

    // The helper's side, through the paths Quellor stored at start-up.
    EXPECT_EQ(GetDword("KillsToDate"), 1u);
    EXPECT_EQ(GetDword("KillsToday"), 1u);
    EXPECT_EQ(GetDate("KillDate"), Today());
    std::string log = testsupport::ReadFileBytes(folder + "QUELLOR.log");
    ASSERT_EQ(log.size(), 520u);
    EXPECT_EQ(UrlOf(log, 0), "http://ads.example.com/one.html");
    End(quellor, main);
}

TEST_F(KillReport, WithTheVisualAlertOffTheTrayStaysStill)
{
    SetDword("TrayAnimate", 0);
    std::string folder = FreshProgramFolder("still");
    Process quellor = StartQuellor(folder);
    HWND main = FindTopWindow(quellor.Pid(), "TfrmMain", "Quellor", 1000);
    ASSERT_NE(main, nullptr);
    std::vector<DWORD> normal = SettledTray();

    EXPECT_FALSE(FlashesWhileReporting(folder, normal));
    EXPECT_EQ(GetDword("KillsToDate"), 1u) << "counted all the same";
    End(quellor, main);
}

// The stand-in itself, without Quellor: what it does to the log and the counters.
TEST_F(KillReport, TheLogIsKeptWithinMaxLogSizeByDroppingTheOldest)
{
    const struct {
        DWORD maxKb;
        int oldRecords;
        size_t tornBytes;
        std::vector<std::string> after; // URLs, oldest first
    } cases[] = {
        {1000, 0, 0, {"new"}},
        {1000, 2, 0, {"old 0", "old 1", "new"}},
        {1, 3, 0, {"new"}},                   // room for one record only
        {2, 5, 0, {"old 3", "old 4", "new"}}, // 2048 bytes hold three
        {1000, 1, 10, {"old 0", "new"}},      // a torn record at the end is cut off
        {0, 2, 0, {}},                        // no room at all
    };
    for (const auto& c : cases) {
        std::string folder = testsupport::FreshFolder("log");
        std::string path = folder + "QUELLOR.log";
        std::string old;
        for (int i = 0; i < c.oldRecords; ++i)
            old += Record(40000 + i, "old " + std::to_string(i), "src");
        old += std::string(c.tornBytes, 'x');
        testsupport::WriteFileBytes(path, old);
        SetRaw("LogFile", REG_SZ, path + '\0');
        SetDword("MaxLogSize", c.maxKb);

        EXPECT_EQ(ReportKill("--url new --source http://www.example.com/", folder), 2u)
            << "no Quellor window to tell";
        std::string log = testsupport::ReadFileBytes(path);
        ASSERT_EQ(log.size(), c.after.size() * 520) << c.maxKb << " KB, " << c.oldRecords;
        EXPECT_LE(log.size(), c.maxKb * 1024u);
        for (size_t i = 0; i < c.after.size(); ++i)
            EXPECT_EQ(UrlOf(log, i), c.after[i]) << c.maxKb << " KB, record " << i;
    }
}

TEST_F(KillReport, KillsTodayStartsAfreshOnANewDay)
{
    double today = Today();
    double lateYesterday = today - 1 + 0.99;
    auto bytes = [](const double& date) {
        return std::string(reinterpret_cast<const char*>(&date), 8);
    };
    const struct {
        const char* what;
        std::string killDate; // REG_BINARY bytes; empty: no value
        DWORD killsToday;
    } cases[] = {
        {"same day", bytes(today), 6},
        {"late yesterday", bytes(lateYesterday), 1},
        {"no date yet", "", 1},
    };
    for (const auto& c : cases) {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, kKey);
        SetDword("KillsToDate", 10);
        SetDword("KillsToday", 5);
        if (!c.killDate.empty()) SetRaw("KillDate", REG_BINARY, c.killDate);
        ReportKill("", testsupport::FreshFolder("count"));
        EXPECT_EQ(GetDword("KillsToDate"), 11u) << c.what;
        EXPECT_EQ(GetDword("KillsToday"), c.killsToday) << c.what;
        EXPECT_EQ(GetDate("KillDate"), today) << c.what;
    }
}
