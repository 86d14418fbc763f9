// The settings record against Wine's real registry: encodings, defaults, read order,
// the three errors, and what Save and StoreFilePaths write and leave alone.
#include <gtest/gtest.h>
#include <windows.h>
// after <windows.h>
#include <sddl.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SettingsKey.h"
#include "settings/LocalTime.h"
#include "settings/QuellorSettings.h"
#include "ui/Application.h"

namespace {

using settingskey::Dword;
using settingskey::Raw;
using settingskey::Sz;

std::string Text(bool value)
{
    return value ? "true" : "false";
}
std::string Text(int32_t value)
{
    return std::to_string(value);
}
std::string Text(double value)
{
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}
std::string Text(const std::string& value)
{
    return value;
}

// Every member but LoadedAt, by value name.
std::map<std::string, std::string> Members(const TQuellorSettings& s)
{
    return {
        {"DefaultNoPopups", Text(s.DefaultNoPopups)},
        {"IgnoreWhenCtrlKey", Text(s.IgnoreWhenCtrlKey)},
        {"BlockAds", Text(s.BlockAds)},
        {"BlockFileSharingAds", Text(s.BlockFileSharingAds)},
        {"TrayAnimate", Text(s.TrayAnimate)},
        {"PlaySound", Text(s.PlaySound)},
        {"SoundFile", Text(s.SoundFile)},
        {"DisableTheater", Text(s.DisableTheater)},
        {"DisableFullScreen", Text(s.DisableFullScreen)},
        {"SilentMode", Text(s.SilentMode)},
        {"AlwaysAllowRezize", Text(s.AlwaysAllowRezize)},
        {"AlwaysShowToolBar", Text(s.AlwaysShowToolBar)},
        {"AlwaysShowStatusBar", Text(s.AlwaysShowStatusBar)},
        {"AlwaysShowAddressBar", Text(s.AlwaysShowAddressBar)},
        {"AlwaysShowMenuBar", Text(s.AlwaysShowMenuBar)},
        {"KillsToDate", Text(s.KillsToDate)},
        {"KillsToday", Text(s.KillsToday)},
        {"KillDate", Text(s.KillDate)},
        {"MaxLogSize", Text(s.MaxLogSize)},
        {"LogFile", Text(s.LogFile)},
        {"RuleFile", Text(s.RuleFile)},
    };
}

// Each value in Load's order: a stored form that differs from the default, the member
// it gives, and the default.
struct Value {
    const char* name;
    Raw stored;
    const char* loaded;
    const char* byDefault;
};
const std::vector<Value>& Values()
{
    static const std::vector<Value> values = {
        {"DefaultNoPopups", {REG_DWORD, Dword(0)}, "false", "true"},
        {"IgnoreWhenCtrlKey", {REG_DWORD, Dword(0)}, "false", "true"},
        {"BlockAds", {REG_DWORD, Dword(1)}, "true", "false"},
        {"BlockFileSharingAds", {REG_DWORD, Dword(0)}, "false", "true"},
        {"TrayAnimate", {REG_DWORD, Dword(0)}, "false", "true"},
        {"PlaySound", {REG_DWORD, Dword(1)}, "true", "false"},
        {"SoundFile", {REG_SZ, Sz("C:\\Sounds\\laser.wav")}, "C:\\Sounds\\laser.wav", ""},
        {"DisableTheater", {REG_DWORD, Dword(1)}, "true", "false"},
        {"DisableFullScreen", {REG_DWORD, Dword(1)}, "true", "false"},
        {"SilentMode", {REG_DWORD, Dword(1)}, "true", "false"},
        {"AlwaysAllowRezize", {REG_DWORD, Dword(1)}, "true", "false"},
        {"AlwaysShowToolBar", {REG_DWORD, Dword(1)}, "true", "false"},
        {"AlwaysShowStatusBar", {REG_DWORD, Dword(1)}, "true", "false"},
        {"AlwaysShowAddressBar", {REG_DWORD, Dword(1)}, "true", "false"},
        {"AlwaysShowMenuBar", {REG_DWORD, Dword(1)}, "true", "false"},
        {"KillsToDate", {REG_DWORD, Dword(4321)}, "4321", "0"},
        {"KillsToday", {REG_DWORD, Dword(21)}, "21", "0"},
        {"KillDate", {REG_BINARY, settingskey::Double(45000.5)}, "45000.5", "0"},
        {"MaxLogSize", {REG_DWORD, Dword(2500)}, "2500", "1000"},
        {"LogFile", {REG_SZ, Sz("C:\\Q\\QUELLOR.log")}, "C:\\Q\\QUELLOR.log", ""},
        {"RuleFile", {REG_SZ, Sz("C:\\Q\\QUELLOR.rul")}, "C:\\Q\\QUELLOR.rul", ""},
    };
    return values;
}

std::map<std::string, std::string> Defaults()
{
    std::map<std::string, std::string> members;
    for (const Value& v : Values())
        members[v.name] = v.byDefault;
    return members;
}

void StoreAllNonDefault()
{
    for (const Value& v : Values())
        settingskey::Set(v.name, v.stored.type, v.stored.bytes);
}

// The order in which Save writes.
const std::vector<std::string> kSaveOrder = {
    "LastChange",        "DefaultNoPopups",     "IgnoreWhenCtrlKey",
    "BlockAds",          "BlockFileSharingAds", "TrayAnimate",
    "PlaySound",         "SoundFile",           "DisableTheater",
    "DisableFullScreen", "SilentMode",          "AlwaysAllowRezize",
    "AlwaysShowToolBar", "AlwaysShowStatusBar", "AlwaysShowAddressBar",
    "AlwaysShowMenuBar", "MaxLogSize",
};

std::string LoadError(TQuellorSettings& settings)
{
    try {
        settings.Load();
    } catch (const win::EQuellorError& e) {
        return e.what();
    }
    return "";
}

// A DACL for the settings key in SDDL: everyone may do everything but what is denied.
void SetKeyDacl(const char* sddl)
{
    HKEY key = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, settingskey::kPath, 0, READ_CONTROL | WRITE_DAC, &key),
        ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    LocalFree(sd);
    RegCloseKey(key);
}

} // namespace

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override { settingskey::Clear(); }
    void TearDown() override { settingskey::Clear(); }
};

TEST_F(SettingsStoreTest, NoKeyGivesEveryDefaultAndSetsLoadedAt)
{
    double before = NowAsOleDate();
    TQuellorSettings settings(true);
    double after = NowAsOleDate();
    EXPECT_EQ(Members(settings), Defaults());
    EXPECT_GE(settings.LoadedAt, before);
    EXPECT_LE(settings.LoadedAt, after);
    EXPECT_FALSE(settingskey::KeyExists()) << "reading never creates the key";

    TQuellorSettings notLoaded(false);
    EXPECT_EQ(Members(notLoaded), Defaults());
    EXPECT_EQ(notLoaded.LoadedAt, 0.0);
}

TEST_F(SettingsStoreTest, StoredValuesAreReadWithTheirEncodings)
{
    const struct {
        const char* name;
        Raw stored;
        const char* loaded;
    } cases[] = {
        {"DefaultNoPopups", {REG_DWORD, Dword(7)}, "true"}, // any non-zero number
        {"DefaultNoPopups", {REG_DWORD, Dword(0xFFFFFFFF)}, "true"},
        {"BlockAds", {REG_DWORD, Dword(0)}, "false"},
        {"MaxLogSize", {REG_DWORD, Dword(50000)}, "50000"}, // neither clamped nor checked
        {"MaxLogSize", {REG_DWORD, Dword(0xFFFFFFFB)}, "-5"},
        {"KillsToDate", {REG_DWORD, Dword(0x7FFFFFFF)}, "2147483647"},
        {"KillDate", {REG_BINARY, settingskey::Double(2.5)}, "2.5"},
        {"SoundFile", {REG_EXPAND_SZ, Sz("%WINDIR%\\media\\x.wav")}, "%WINDIR%\\media\\x.wav"},
        {"SoundFile", {REG_SZ, std::string("abc\0def\0", 8)}, "abc"}, // cut at the NUL
        {"SoundFile", {REG_SZ, ""}, ""},                              // no data at all
        {"SoundFile", {REG_SZ, "no terminator"}, "no terminator"},
        {"LogFile",
         {REG_SZ, Sz("C:\\Program Files\\Quellor\\QUELLOR.log")},
         "C:\\Program Files\\Quellor\\QUELLOR.log"},
        {"RuleFile", {REG_SZ, Sz("C:\\caf\xE9\\QUELLOR.rul")}, "C:\\caf\xE9\\QUELLOR.rul"},
    };
    for (const auto& c : cases) {
        settingskey::Clear();
        settingskey::Set(c.name, c.stored.type, c.stored.bytes);
        TQuellorSettings settings(false);
        EXPECT_EQ(LoadError(settings), "") << c.name;
        std::map<std::string, std::string> expected = Defaults();
        expected[c.name] = c.loaded;
        EXPECT_EQ(Members(settings), expected) << c.name << " = " << c.loaded;
        EXPECT_NE(settings.LoadedAt, 0.0) << c.name;
    }

    // Every value at once, the first start's two paths among them.
    StoreAllNonDefault();
    TQuellorSettings settings(true);
    for (const Value& v : Values())
        EXPECT_EQ(Members(settings)[v.name], v.loaded) << v.name;
}

TEST_F(SettingsStoreTest, BadDataStopsLoadAtThatValueWithItsError)
{
    const struct {
        const char* name;
        Raw stored;
        const char* error;
    } cases[] = {
        {"DefaultNoPopups", {REG_SZ, Sz("0")}, "Invalid data type for 'DefaultNoPopups'"},
        {"IgnoreWhenCtrlKey", {REG_BINARY, Dword(1)}, "Invalid data type for 'IgnoreWhenCtrlKey'"},
        {"TrayAnimate", {REG_SZ, Sz("a string too long")}, "Failed to get data for 'TrayAnimate'"},
        {"SoundFile", {REG_DWORD, Dword(1)}, "Invalid data type for 'SoundFile'"},
        {"SoundFile",
         {REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
         "Invalid data type for 'SoundFile'"},
        {"AlwaysAllowRezize",
         {REG_DWORD, std::string(8, '\1')},
         "Failed to get data for 'AlwaysAllowRezize'"},
        {"KillsToday", {REG_QWORD, std::string(8, '\0')}, "Failed to get data for 'KillsToday'"},
        {"KillDate", {REG_BINARY, Dword(1)}, "Invalid data type for 'KillDate'"},
        {"KillDate", {REG_DWORD, Dword(1)}, "Invalid data type for 'KillDate'"},
        {"KillDate", {REG_BINARY, std::string(12, '\0')}, "Failed to get data for 'KillDate'"},
        {"MaxLogSize", {REG_SZ, Sz("1")}, "Invalid data type for 'MaxLogSize'"},
        {"RuleFile", {REG_BINARY, "abc"}, "Invalid data type for 'RuleFile'"},
    };
    for (const auto& c : cases) {
        settingskey::Clear();
        StoreAllNonDefault();
        settingskey::Set(c.name, c.stored.type, c.stored.bytes);

        TQuellorSettings settings(false);
        settings.LoadedAt = 123.5;
        EXPECT_EQ(LoadError(settings), c.error);
        EXPECT_EQ(settings.LoadedAt, 123.5) << "left alone after a failure: " << c.error;

        // What was read before the bad value stays; it and all later ones keep defaults.
        std::map<std::string, std::string> expected;
        bool reached = false;
        for (const Value& v : Values()) {
            reached = reached || v.name == std::string(c.name);
            expected[v.name] = reached ? v.byDefault : v.loaded;
        }
        EXPECT_EQ(Members(settings), expected) << c.error;

        // Construction with loading fails as a whole with the same error.
        try {
            TQuellorSettings loaded(true);
            ADD_FAILURE() << "no error for " << c.error;
        } catch (const win::EQuellorError& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
    }
}

TEST_F(SettingsStoreTest, KillCountersAreReadAloneAndFailTheSameWay)
{
    StoreAllNonDefault();
    settingskey::Set("KillDate", REG_BINARY, Dword(1));   // Load would fail here
    settingskey::Set("DefaultNoPopups", REG_SZ, Sz("0")); // and here, first

    TQuellorSettings settings(false);
    settings.LoadKillCounters();
    std::map<std::string, std::string> expected = Defaults();
    expected["KillsToDate"] = "4321";
    expected["KillsToday"] = "21";
    EXPECT_EQ(Members(settings), expected);
    EXPECT_EQ(settings.LoadedAt, 0.0);

    settingskey::Set("KillsToDate", REG_SZ, Sz("1"));
    TQuellorSettings failing(false);
    try {
        failing.LoadKillCounters();
        ADD_FAILURE() << "no error";
    } catch (const win::EQuellorError& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'KillsToDate'");
    }
    EXPECT_EQ(failing.KillsToday, 0) << "stops at the failing value";
}

TEST_F(SettingsStoreTest, SaveWritesLastChangeAndTheSixteenSettingsOnly)
{
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, "Software\\Tandrel"); // parents made too
    // What the browser helper and start-up keep there, some of it odd on purpose.
    const std::map<std::string, Raw> others = {
        {"KillsToDate", {REG_DWORD, Dword(77)}},
        {"KillsToday", {REG_SZ, Sz("not a number")}},
        {"KillDate", {REG_BINARY, Dword(3)}},
        {"LogFile", {REG_SZ, Sz("C:\\old\\QUELLOR.log")}},
        {"RuleFile", {REG_EXPAND_SZ, Sz("%TEMP%\\QUELLOR.rul")}},
    };

    TQuellorSettings settings(false);
    settings.DefaultNoPopups = false;
    settings.BlockAds = true;
    settings.PlaySound = true;
    settings.SoundFile = "C:\\Sounds\\gunshot.wav";
    settings.SilentMode = true;
    settings.AlwaysAllowRezize = true;
    settings.AlwaysShowMenuBar = true;
    settings.MaxLogSize = 2500;
    settings.KillsToDate = 5; // never written by Save
    settings.LogFile = "C:\\elsewhere.log";

    for (bool keyExisted : {false, true}) {
        if (keyExisted)
            for (const auto& [name, raw] : others)
                settingskey::Set(name.c_str(), raw.type, raw.bytes);
        double before = NowAsOleDate();
        settings.Save();
        double after = NowAsOleDate();

        std::map<std::string, Raw> expected = {
            {"DefaultNoPopups", {REG_DWORD, Dword(0)}},
            {"IgnoreWhenCtrlKey", {REG_DWORD, Dword(1)}},
            {"BlockAds", {REG_DWORD, Dword(1)}},
            {"BlockFileSharingAds", {REG_DWORD, Dword(1)}},
            {"TrayAnimate", {REG_DWORD, Dword(1)}},
            {"PlaySound", {REG_DWORD, Dword(1)}},
            {"SoundFile", {REG_SZ, Sz("C:\\Sounds\\gunshot.wav")}},
            {"DisableTheater", {REG_DWORD, Dword(0)}},
            {"DisableFullScreen", {REG_DWORD, Dword(0)}},
            {"SilentMode", {REG_DWORD, Dword(1)}},
            {"AlwaysAllowRezize", {REG_DWORD, Dword(1)}},
            {"AlwaysShowToolBar", {REG_DWORD, Dword(0)}},
            {"AlwaysShowStatusBar", {REG_DWORD, Dword(0)}},
            {"AlwaysShowAddressBar", {REG_DWORD, Dword(0)}},
            {"AlwaysShowMenuBar", {REG_DWORD, Dword(1)}},
            {"MaxLogSize", {REG_DWORD, Dword(2500)}},
        };
        if (keyExisted) expected.insert(others.begin(), others.end());
        std::map<std::string, Raw> stored = settingskey::All();
        ASSERT_EQ(stored.count("LastChange"), 1u);
        Raw lastChange = stored["LastChange"];
        stored.erase("LastChange");
        EXPECT_EQ(stored, expected) << "key existed: " << keyExisted;

        ASSERT_EQ(lastChange.type, static_cast<DWORD>(REG_BINARY));
        ASSERT_EQ(lastChange.bytes.size(), 8u);
        double when = 0;
        memcpy(&when, lastChange.bytes.data(), 8);
        EXPECT_GE(when, before);
        EXPECT_LE(when, after);
    }
}

TEST_F(SettingsStoreTest, ANonZeroBooleanLoadsTrueAndSavesBackAsOne)
{
    settingskey::SetDword("DefaultNoPopups", 7);
    TQuellorSettings settings(true);
    EXPECT_TRUE(settings.DefaultNoPopups);
    settings.Save();
    EXPECT_EQ(settingskey::Get("DefaultNoPopups"), (Raw{REG_DWORD, Dword(1)}));
}

TEST_F(SettingsStoreTest, StoreFilePathsWritesBothPathsUnchangedAndNothingElse)
{
    TQuellorSettings settings(true);
    settings.StoreFilePaths("C:\\Program Files\\Quellor\\QUELLOR.log", "D:\\x\\caf\xE9.rul");
    std::map<std::string, Raw> expected = {
        {"LogFile", {REG_SZ, Sz("C:\\Program Files\\Quellor\\QUELLOR.log")}},
        {"RuleFile", {REG_SZ, Sz("D:\\x\\caf\xE9.rul")}},
    };
    EXPECT_EQ(settingskey::All(), expected);

    // A moved program rewrites them; the other values stay.
    settingskey::SetDword("KillsToDate", 3);
    settings.StoreFilePaths("E:\\QUELLOR.log", "");
    expected = {
        {"LogFile", {REG_SZ, Sz("E:\\QUELLOR.log")}},
        {"RuleFile", {REG_SZ, Sz("")}},
        {"KillsToDate", {REG_DWORD, Dword(3)}},
    };
    EXPECT_EQ(settingskey::All(), expected);
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeOpenedForWritingIsPassedOverSilently)
{
    const char* volatileParent = "Software\\Tandrel";
    // Two real refusals of the key itself: a volatile parent cannot hold the non-volatile
    // key, and a DACL that denies setting values refuses to open it with full access.
    const struct {
        const char* how;
        bool keyReadable;
    } cases[] = {{"volatile parent", false}, {"write denied", true}};
    for (const auto& c : cases) {
        testsupport::DeleteKeyTree(HKEY_CURRENT_USER, volatileParent);
        if (c.keyReadable) {
            settingskey::SetDword("MaxLogSize", 300);
            SetKeyDacl("D:(D;;0x2;;;WD)(A;;KA;;;WD)"); // 0x2: KEY_SET_VALUE
        } else {
            HKEY parent = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, volatileParent, 0, nullptr,
                                      REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent,
                                      nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(parent);
        }
        std::map<std::string, Raw> before = settingskey::All();

        TQuellorSettings settings(false);
        EXPECT_NO_THROW(settings.Save()) << c.how;
        EXPECT_NO_THROW(settings.StoreFilePaths("C:\\a.log", "C:\\a.rul")) << c.how;
        EXPECT_EQ(settingskey::All(), before) << c.how;
        EXPECT_EQ(settingskey::KeyExists(), c.keyReadable) << c.how;

        TQuellorSettings loaded(true);
        EXPECT_EQ(loaded.MaxLogSize, c.keyReadable ? 300 : 1000) << c.how;
        EXPECT_NE(loaded.LoadedAt, 0.0) << c.how;

        if (c.keyReadable) SetKeyDacl("D:(A;;KA;;;WD)");
    }
    testsupport::DeleteKeyTree(HKEY_CURRENT_USER, volatileParent);
}

// The registry refuses a write made through a handle that lacks KEY_SET_VALUE. While Save
// writes a long sound file name (slow on purpose), another thread closes Save's key handle
// and reopens the key read-only; Wine gives the new handle the freed number, so Save's
// next write reaches the registry through a read-only handle and is refused.
TEST_F(SettingsStoreTest, ARefusedWriteStopsSaveAtThatValue)
{
    bool refused = false;
    for (int attempt = 0; attempt < 3 && !refused; ++attempt) {
        settingskey::Clear();
        settingskey::SetDword("KillsToDate", 9); // the key exists, holding no setting yet
        TQuellorSettings settings(false);
        settings.BlockAds = true;
        settings.SoundFile.assign(16u << 20, 'w');

        HKEY watch = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, settingskey::kPath, 0, KEY_READ, &watch),
                  ERROR_SUCCESS);
        std::atomic<HKEY> predicted{nullptr};
        std::atomic<bool> swapped{false}, ready{false};
        std::thread swapper([&] {
            ready = true;
            DWORD start = GetTickCount();
            // PlaySound is the last value before SoundFile.
            while (RegQueryValueExA(watch, "PlaySound", nullptr, nullptr, nullptr, nullptr) !=
                   ERROR_SUCCESS)
                if (GetTickCount() - start > 10000) return;
            HKEY saving = predicted;
            if (RegQueryValueExA(saving, "PlaySound", nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                return; // Save is already past its key
            RegCloseKey(saving);
            HKEY readOnly = nullptr;
            RegOpenKeyExA(HKEY_CURRENT_USER, settingskey::kPath, 0, KEY_READ, &readOnly);
            swapped = readOnly == saving; // Save closes it when it ends
            if (!swapped && readOnly) RegCloseKey(readOnly);
        });
        while (!ready)
            Sleep(1);
        // Save's key gets the lowest free handle number: find it out beforehand.
        HKEY probe = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, settingskey::kPath, 0, KEY_READ, &probe);
        predicted = probe;
        RegCloseKey(probe);

        std::string error;
        try {
            settings.Save();
        } catch (const win::EQuellorError& e) {
            error = e.what();
        }
        swapper.join();
        RegCloseKey(watch);
        if (!swapped) continue;
        refused = true;

        // The first value missing from the key is the one named; everything before it in
        // Save's order is stored with its new data, nothing after it.
        std::map<std::string, Raw> stored = settingskey::All();
        size_t missing = 0;
        while (missing < kSaveOrder.size() && stored.count(kSaveOrder[missing]))
            ++missing;
        ASSERT_LT(missing, kSaveOrder.size()) << "Save wrote everything: " << error;
        EXPECT_GT(missing, 6u) << "refused only after PlaySound was written";
        EXPECT_EQ(error, "Failed to set data for '" + kSaveOrder[missing] + "'");
        for (size_t i = missing; i < kSaveOrder.size(); ++i)
            EXPECT_EQ(stored.count(kSaveOrder[i]), 0u)
                << kSaveOrder[i] << " written after " << error;
        EXPECT_EQ(stored["BlockAds"], (Raw{REG_DWORD, Dword(1)}));
        EXPECT_EQ(stored["KillsToDate"], (Raw{REG_DWORD, Dword(9)}));
    }
    EXPECT_TRUE(refused) << "the handle could not be swapped in three attempts";
}
