#include "rules/RuleFile.h"

#include <windows.h>

#include "win/Error.h"
#include "win/Handles.h"

namespace rules {

namespace {

using win::EQuellorError;

// Write access is asked for only to save, so a file the user may only read still loads.
win::File OpenShared(const std::string& path, DWORD access, DWORD disposition, DWORD flags)
{
    return win::File(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 disposition, flags, nullptr));
}

// One read for the whole file: a writer that grows or cuts it meanwhile gives us fewer
// whole records, never a record out of step. A file of more than maxRecords records is
// read up to there when cut is set, and not at all otherwise.
std::optional<std::vector<TRule>> ReadRules(HANDLE file, uint64_t maxRecords, bool cut)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return std::nullopt;
    uint64_t count = RuleCount(static_cast<uint64_t>(size.QuadPart));
    if (count > maxRecords) {
        if (!cut) return std::nullopt;
        count = maxRecords;
    }
    std::vector<TRuleRecord> records(static_cast<size_t>(count));
    DWORD got = 0;
    if (count > 0 &&
        !ReadFile(file, records.data(), static_cast<DWORD>(count * kRuleRecordSize), &got, nullptr))
        return std::nullopt;

    std::vector<TRule> rules;
    rules.reserve(records.size());
    for (size_t i = 0; i < got / kRuleRecordSize; ++i)
        if (auto rule = DecodeRule(records[i])) rules.push_back(std::move(*rule));
    return rules;
}

bool Seek(HANDLE file, std::uint64_t offset)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

bool SetSize(HANDLE file, std::uint64_t size)
{
    return Seek(file, size) && SetEndOfFile(file);
}

bool WriteAt(HANDLE file, std::uint64_t offset, const std::string& bytes)
{
    DWORD written = 0;
    return Seek(file, offset) &&
           WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool IsReadOnly(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

} // namespace

std::optional<std::vector<TRule>> ReadRuleFile(const std::string& path, uint64_t maxRecords)
{
    win::File file = OpenShared(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (!file) return std::nullopt;
    return ReadRules(file.get(), maxRecords, true);
}

std::vector<TRule> LoadRuleFile(const std::string& path)
{
    win::File file = OpenShared(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!file)
        throw EQuellorError("Cannot open the rule file \"" + path +
                            "\" for reading: " + win::SystemErrorText(GetLastError()));
    if (auto rules = ReadRules(file.get(), kMaxRuleRecords, false)) return *rules;
    // The whole file in one read failed (a locked range, say): record by record, skipping
    // only the records that cannot be read, so the list never comes back emptier than the
    // file for nothing, to be saved over it.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        throw EQuellorError("Cannot read the rule file \"" + path +
                            "\": " + win::SystemErrorText(GetLastError()));
    std::vector<TRule> rules;
    for (std::uint64_t i = 0; i < RuleCount(static_cast<std::uint64_t>(size.QuadPart)); ++i) {
        TRuleRecord record;
        DWORD got = 0;
        if (Seek(file.get(), i * kRuleRecordSize) &&
            ReadFile(file.get(), &record, sizeof record, &got, nullptr) && got == sizeof record)
            if (auto rule = DecodeRule(record)) rules.push_back(std::move(*rule));
    }
    return rules;
}

void SaveRuleFile(const std::string& path, const std::vector<TRule>& rows)
{
    std::string bytes;
    bytes.reserve(rows.size() * kRuleRecordSize);
    for (const TRule& row : rows) {
        TRuleRecord record = EncodeRule(row.url, row.kind);
        bytes.append(reinterpret_cast<const char*>(&record), sizeof record);
    }
    const std::string notSaved = "The rules were not saved. The rule file \"" + path + "\" ";

    if (IsReadOnly(path)) throw EQuellorError(notSaved + "is read-only.");
    // Rewritten in place, never replaced: the browser helper may hold it open.
    win::File file =
        OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (!file)
        throw EQuellorError(
            notSaved + "could not be opened for writing: " + win::SystemErrorText(GetLastError()));

    LARGE_INTEGER oldSize{};
    if (!GetFileSizeEx(file.get(), &oldSize))
        throw EQuellorError(notSaved +
                            "could not be read: " + win::SystemErrorText(GetLastError()));
    const std::uint64_t before = static_cast<std::uint64_t>(oldSize.QuadPart);
    const std::uint64_t after = bytes.size();

    // A failed write gives the file its old length back.
    if (after > before && !SetSize(file.get(), after)) {
        DWORD error = GetLastError();
        SetSize(file.get(), before);
        throw EQuellorError(notSaved + "could not be enlarged: " + win::SystemErrorText(error));
    }
    if (!WriteAt(file.get(), 0, bytes)) {
        DWORD error = GetLastError();
        if (after > before) SetSize(file.get(), before);
        throw EQuellorError(notSaved + "could not be written: " + win::SystemErrorText(error));
    }
    if (after < before && !SetSize(file.get(), after)) {
        // Cut short by someone holding the file mapped: blank the old records after ours,
        // whose kind byte 0 every reader skips, so deleted rules cannot come back.
        DWORD error = GetLastError();
        bool blanked = WriteAt(file.get(), after, std::string(before - after, '\0'));
        throw EQuellorError("The rule file \"" + path +
                            "\" could not be shortened: " + win::SystemErrorText(error) +
                            (blanked ? " The rules were saved and the records after them blanked."
                                     : " Rules deleted since the last save may still be in it."));
    }
}

} // namespace rules
