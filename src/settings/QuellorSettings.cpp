#include "settings/QuellorSettings.h"

#include <cstring>
#include <string_view>
#include <variant>
#include <vector>

#include "helper_contract/HelperContract.h"
#include "settings/LocalTime.h"
#include "win/Error.h"
#include "win/Handles.h"

namespace {

using win::EQuellorError;

constexpr char kLastChange[] = "LastChange";

std::string Quoted(const char* format, const char* name)
{
    std::string text = format;
    text.replace(text.find("%s"), 2, name);
    return text;
}

[[noreturn]] void InvalidType(const char* name)
{
    throw EQuellorError(Quoted("Invalid data type for '%s'", name));
}

[[noreturn]] void FailedToGet(const char* name)
{
    throw EQuellorError(Quoted("Failed to get data for '%s'", name));
}

// A key that can be neither opened nor created leaves the operation silent.
win::RegKey OpenForReading()
{
    win::RegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS)
        key.reset();
    return key;
}

win::RegKey OpenForWriting()
{
    win::RegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        key.reset();
    return key;
}

// Reads into a buffer of the expected size, one query: a missing value is no error and
// leaves false; more data than fits cannot be got; data that fit but have another type are
// of the wrong type.
bool ReadFixed(HKEY key, const char* name, DWORD expectedType, void* buffer, DWORD size,
               bool exactSize)
{
    DWORD type = 0, got = size;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, static_cast<BYTE*>(buffer), &got);
    if (result == ERROR_MORE_DATA) FailedToGet(name);
    if (result != ERROR_SUCCESS) return false;
    if (type != expectedType || (exactSize && got != size)) InvalidType(name);
    return true;
}

void Read(HKEY key, const char* name, int32_t& member)
{
    int32_t value = 0;
    if (ReadFixed(key, name, REG_DWORD, &value, sizeof value, false)) member = value;
}

void Read(HKEY key, const char* name, bool& member)
{
    int32_t value = 0;
    if (ReadFixed(key, name, REG_DWORD, &value, sizeof value, false)) member = value != 0;
}

void Read(HKEY key, const char* name, double& member)
{
    double value = 0;
    if (ReadFixed(key, name, REG_BINARY, &value, sizeof value, true)) member = value;
}

void Read(HKEY key, const char* name, std::string& member)
{
    // One query for a text of any usual length; a longer one takes two more.
    char buffer[MAX_PATH * 2];
    DWORD type = 0, size = sizeof buffer;
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return;
    // Expandable strings are taken literally.
    if (type != REG_SZ && type != REG_EXPAND_SZ) InvalidType(name);
    if (result == ERROR_SUCCESS) {
        member.assign(buffer, strnlen(buffer, size)); // text after an embedded NUL is dropped
        return;
    }
    size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
    std::vector<char> data(size + 1, '\0');
    DWORD got = size;
    if (size > 0 && RegQueryValueExA(key, name, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &got) != ERROR_SUCCESS)
        FailedToGet(name);
    member = data.data();
}

void WriteData(HKEY key, const char* name, DWORD type, const void* data, DWORD size)
{
    if (RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) != ERROR_SUCCESS)
        throw EQuellorError(Quoted("Failed to set data for '%s'", name));
}

void Write(HKEY key, const char* name, bool value)
{
    DWORD data = value ? 1 : 0;
    WriteData(key, name, REG_DWORD, &data, sizeof data);
}

void Write(HKEY key, const char* name, int32_t value)
{
    WriteData(key, name, REG_DWORD, &value, sizeof value);
}

void Write(HKEY key, const char* name, const std::string& value)
{
    WriteData(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void Write(HKEY key, const char* name, double value)
{
    WriteData(key, name, REG_BINARY, &value, sizeof value);
}

// Every value of the key in the order Load reads it: the one list of the value names.
// Save writes LastChange and then the saved ones in this same order.
using TMember = std::variant<bool TQuellorSettings::*, std::string TQuellorSettings::*,
                             int32_t TQuellorSettings::*, double TQuellorSettings::*>;
struct TSettingValue {
    const char* name;
    TMember member;
    bool saved;
};

using S = TQuellorSettings;
constexpr TSettingValue kValues[] = {
    {"DefaultNoPopups", &S::DefaultNoPopups, true},
    {"IgnoreWhenCtrlKey", &S::IgnoreWhenCtrlKey, true},
    {"BlockAds", &S::BlockAds, true},
    {"BlockFileSharingAds", &S::BlockFileSharingAds, true},
    {"TrayAnimate", &S::TrayAnimate, true},
    {"PlaySound", &S::PlaySound, true},
    {"SoundFile", &S::SoundFile, true},
    {"DisableTheater", &S::DisableTheater, true},
    {"DisableFullScreen", &S::DisableFullScreen, true},
    {"SilentMode", &S::SilentMode, true},
    {"AlwaysAllowRezize", &S::AlwaysAllowRezize, true},
    {"AlwaysShowToolBar", &S::AlwaysShowToolBar, true},
    {"AlwaysShowStatusBar", &S::AlwaysShowStatusBar, true},
    {"AlwaysShowAddressBar", &S::AlwaysShowAddressBar, true},
    {"AlwaysShowMenuBar", &S::AlwaysShowMenuBar, true},
    // The helper alone writes the counters; the paths are stored at start-up.
    {contract::kKillsToDate, &S::KillsToDate, false},
    {contract::kKillsToday, &S::KillsToday, false},
    {contract::kKillDate, &S::KillDate, false},
    {contract::kMaxLogSize, &S::MaxLogSize, true},
    {contract::kLogFile, &S::LogFile, false},
    {contract::kRuleFile, &S::RuleFile, false},
};

// Every policy that replaces a setting names a value of the key that holds a number.
constexpr bool NamesANumber(std::string_view name)
{
    for (const TSettingValue& value : kValues)
        if (name == value.name)
            return std::holds_alternative<bool S::*>(value.member) ||
                   std::holds_alternative<int32_t S::*>(value.member);
    return false;
}
constexpr bool PolicySettingsAreValues()
{
    for (const contract::TPolicyName& policy : contract::kPolicyNames)
        if (policy.setting && !NamesANumber(policy.name)) return false;
    return true;
}
static_assert(PolicySettingsAreValues(), "a policy replaces a DWORD value of the settings key");

void Assign(bool& member, std::uint32_t value)
{
    member = value != 0;
}
void Assign(int32_t& member, std::uint32_t value)
{
    member = static_cast<int32_t>(value);
}
void Assign(std::string&, std::uint32_t) {}
void Assign(double&, std::uint32_t) {}

template <typename Member> bool SetByPolicy(const TQuellorPolicy& policy, Member member)
{
    for (const TSettingValue& value : kValues)
        if (auto held = std::get_if<Member>(&value.member); held && *held == member)
            return policy.Sets(value.name);
    return false;
}

// Each value read or written by its member's type.
void ReadValue(HKEY k, const TSettingValue& value, TQuellorSettings& s)
{
    std::visit([&](auto member) { Read(k, value.name, s.*member); }, value.member);
}

void WriteValue(HKEY k, const TSettingValue& value, const TQuellorSettings& s)
{
    std::visit([&](auto member) { Write(k, value.name, s.*member); }, value.member);
}

// Every value in read order; each read goes through guard, which decides what a broken
// value does.
template <typename Guard> void ReadAll(HKEY k, TQuellorSettings& s, Guard guard)
{
    for (const TSettingValue& value : kValues)
        guard([&] { ReadValue(k, value, s); });
}

} // namespace

TQuellorSettings::TQuellorSettings(bool load)
{
    if (load) Load();
}

void TQuellorSettings::Load()
{
    if (win::RegKey key = OpenForReading()) ReadAll(key.get(), *this, [](auto read) { read(); });
    LoadedAt = NowAsOleDate();
}

bool TQuellorSettings::LoadTolerant() noexcept
{
    try {
        if (win::RegKey key = OpenForReading())
            ReadAll(key.get(), *this, [this](auto read) {
                try {
                    read();
                } catch (const EQuellorError&) {
                    // the value keeps its default; the others are still read
                }
            });
        LoadedAt = NowAsOleDate();
        return true;
    } catch (...) {
        return false; // out of memory: whatever was read stays
    }
}

namespace {

// A value of another type reads as no path; running out of memory throws.
void QueryPath(HKEY key, const char* name, std::string& text)
{
    try {
        Read(key, name, text);
    } catch (const EQuellorError&) {
    }
}

} // namespace

TQuellorSettings::TChangeMarks TQuellorSettings::ReadChangeMarks(win::RegKey& key)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!key) key = OpenForReading();
        TChangeMarks marks;
        if (!key) return marks;
        double value = 0;
        DWORD type = 0, size = sizeof value;
        LONG result = RegQueryValueExA(key.get(), kLastChange, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND &&
            result != ERROR_MORE_DATA) {
            key.reset(); // deleted (and perhaps made anew) since it was opened
            continue;
        }
        if (result == ERROR_SUCCESS && type == REG_BINARY && size == sizeof value)
            marks.lastChange = value;
        QueryPath(key.get(), contract::kLogFile, marks.logFile);
        QueryPath(key.get(), contract::kRuleFile, marks.ruleFile);
        return marks;
    }
    return {};
}

void TQuellorSettings::LoadKillCounters()
{
    if (win::RegKey key = OpenForReading()) {
        Read(key.get(), contract::kKillsToDate, KillsToDate);
        Read(key.get(), contract::kKillsToday, KillsToday);
    }
}

void TQuellorSettings::ApplyPolicy(const TQuellorPolicy& policy)
{
    for (const TSettingValue& value : kValues)
        if (std::optional<std::uint32_t> set = policy.Value(value.name))
            std::visit([&](auto member) { Assign(this->*member, *set); }, value.member);
}

bool TQuellorSettings::SetByPolicy(const TQuellorPolicy& policy, bool TQuellorSettings::*member)
{
    return ::SetByPolicy(policy, member);
}

bool TQuellorSettings::SetByPolicy(const TQuellorPolicy& policy, int32_t TQuellorSettings::*member)
{
    return ::SetByPolicy(policy, member);
}

void TQuellorSettings::Save(const TQuellorPolicy& managed)
{
    win::RegKey key = OpenForWriting();
    if (!key) return;
    HKEY k = key.get();
    Write(k, kLastChange, NowAsOleDate());
    for (const TSettingValue& value : kValues)
        if (value.saved && !managed.Sets(value.name)) WriteValue(k, value, *this);
}

void TQuellorSettings::RenewLastChange()
{
    win::RegKey key = OpenForWriting();
    if (key) Write(key.get(), kLastChange, NowAsOleDate());
}

void TQuellorSettings::StoreFilePaths(const std::string& logFile, const std::string& ruleFile)
{
    win::RegKey key = OpenForWriting();
    if (!key) return;
    Write(key.get(), contract::kLogFile, logFile);
    Write(key.get(), contract::kRuleFile, ruleFile);
}
