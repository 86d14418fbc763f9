#include "history/LogWriter.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "helper_contract/HelperContract.h"
#include "win/Handles.h"
#include "win/Integrity.h"

namespace history {

namespace {

// Records moved at a time when the log is trimmed: a full log of 10,000 KB needs no 9 MB
// buffer inside a browser whose address space may be short of one.
constexpr uint64_t kRecordsPerMove = 63;

class WriterLock {
  public:
    explicit WriterLock(HANDLE mutex) noexcept : mutex_(mutex)
    {
        if (!mutex_) return;
        // An abandoned mutex is ours all the same: a torn record is overwritten below.
        DWORD wait = WaitForSingleObject(mutex_, INFINITE);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~WriterLock()
    {
        if (held_) ReleaseMutex(mutex_);
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool Held() const { return held_; }

  private:
    HANDLE mutex_;
    bool held_ = false;
};

bool Seek(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

bool WriteAt(HANDLE file, uint64_t offset, const void* data, size_t size)
{
    DWORD written = 0;
    return Seek(file, offset) &&
           WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool ReadAt(HANDLE file, uint64_t offset, void* data, size_t size)
{
    DWORD got = 0;
    return Seek(file, offset) && ReadFile(file, data, static_cast<DWORD>(size), &got, nullptr) &&
           got == size;
}

bool CutAt(HANDLE file, uint64_t length)
{
    return Seek(file, length) && SetEndOfFile(file);
}

int32_t ReadCounter(HKEY key, const char* name)
{
    int32_t value = 0;
    DWORD type = 0, size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value || value < 0)
        return 0;
    return value;
}

double ReadDate(HKEY key, const char* name)
{
    double value = 0;
    DWORD type = 0, size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_BINARY || size != sizeof value || !std::isfinite(value))
        return 0;
    return value;
}

// LogFile is the user's to set, at medium integrity: a browser run as administrator must
// not cut whatever file it names. Only a name ending in .log, and only a plain file on a
// disk (no device, no link to elsewhere) or a missing one.
bool IsLogName(const std::string& path)
{
    if (path.size() < 4) return false;
    std::string extension = path.substr(path.size() - 4);
    CharLowerBuffA(extension.data(), static_cast<DWORD>(extension.size()));
    return extension == ".log";
}

bool IsPlainFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

} // namespace

uint64_t RecordsKeptOnTrim(int32_t maxLogSizeKb, uint64_t records)
{
    if (maxLogSizeKb <= 0) return 0;
    uint64_t limit = static_cast<uint64_t>(maxLogSizeKb) * 1024;
    uint64_t target = limit * 9 / 10 / kLogEntrySize; // records after the append
    return std::min(records, target > 0 ? target - 1 : 0);
}

namespace {

// The records kept and the new one, written to a file of their own that then takes the log's
// place in one step: a writer stopped at any instant leaves the old log or the new one, never
// a log half moved, and a reader sees one or the other. False, with the log as it was, when
// the log cannot be replaced now (a reader has it open): the caller appends instead.
bool ReplaceTrimmed(win::File& log, const std::string& path, uint64_t first, uint64_t keep,
                    const std::array<unsigned char, kLogEntrySize>& record)
{
    const std::string trimmed = path + ".trim";
    {
        // A file a writer stopped earlier left is written over.
        win::File out(CreateFileA(trimmed.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        // In pieces: a full log of 10,000 KB needs no 9 MB buffer inside a browser whose
        // address space may be short of one.
        std::vector<unsigned char> piece(static_cast<size_t>(kRecordsPerMove * kLogEntrySize));
        bool written = true;
        for (uint64_t moved = 0; written && moved < keep; moved += kRecordsPerMove) {
            size_t bytes =
                static_cast<size_t>(std::min(kRecordsPerMove, keep - moved) * kLogEntrySize);
            written = ReadAt(log.get(), (first + moved) * kLogEntrySize, piece.data(), bytes) &&
                      WriteAt(out.get(), moved * kLogEntrySize, piece.data(), bytes);
        }
        if (!written || !WriteAt(out.get(), keep * kLogEntrySize, record.data(), record.size())) {
            out.reset();
            DeleteFileA(trimmed.c_str());
            return false;
        }
    }
    // Windows replaces no file that is open, ours included: the writers' lock keeps the other
    // writers out meanwhile.
    log.reset();
    if (MoveFileExA(trimmed.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(trimmed.c_str());
    return false;
}

win::File OpenLog(const std::string& path, bool create)
{
    return win::File(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 create ? OPEN_ALWAYS : OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

} // namespace

bool AppendLogRecord(const std::string& path, int32_t maxLogSizeKb, const TLogEntry& entry)
{
    uint64_t room =
        maxLogSizeKb > 0 ? static_cast<uint64_t>(maxLogSizeKb) * 1024 / kLogEntrySize : 0;
    if (!IsLogName(path)) return false;
    win::File file = OpenLog(path, room > 0);
    if (!file) return room == 0 && GetLastError() == ERROR_FILE_NOT_FOUND;
    if (!IsPlainFile(file.get())) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return false;
    uint64_t records = static_cast<uint64_t>(size.QuadPart) / kLogEntrySize;
    if (room == 0) return CutAt(file.get(), 0);

    std::array<unsigned char, kLogEntrySize> record;
    EncodeLogEntry(entry, record);
    if (records + 1 > room) {
        uint64_t keep = RecordsKeptOnTrim(maxLogSizeKb, records);
        if (ReplaceTrimmed(file, path, records - keep, keep, record)) return true;
        // Trimmed at a later kill; this one is not lost for it.
        if (!file) file = OpenLog(path, false);
        if (!file || !IsPlainFile(file.get())) return false;
    }
    // A torn record after the last whole one is overwritten.
    uint64_t end = records * kLogEntrySize;
    return WriteAt(file.get(), end, record.data(), record.size()) &&
           CutAt(file.get(), end + kLogEntrySize);
}

bool RaiseKillCounters(double now)
{
    win::RegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    double today = std::floor(now);
    int32_t total = ReadCounter(key.get(), contract::kKillsToDate);
    int32_t sameDay = std::floor(ReadDate(key.get(), contract::kKillDate)) == today
                          ? ReadCounter(key.get(), contract::kKillsToday)
                          : 0;
    if (total < INT32_MAX) ++total;
    if (sameDay < INT32_MAX) ++sameDay;
    auto set = [&](const char* name, DWORD type, const void* data, DWORD bytes) {
        return RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) ==
               ERROR_SUCCESS;
    };
    return set(contract::kKillsToDate, REG_DWORD, &total, sizeof total) &&
           set(contract::kKillsToday, REG_DWORD, &sameDay, sizeof sameDay) &&
           set(contract::kKillDate, REG_BINARY, &today, sizeof today);
}

int NotifyTrayProgram(bool askToCount)
{
    UINT message = RegisterWindowMessageA(contract::kKillMessageName);
    int told = 0;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, contract::kMainWindowClass,
                                   contract::kMainWindowCaption)) != nullptr) {
        // Until one window has taken the request, the next one is asked.
        WPARAM wParam = askToCount && told == 0 ? contract::kCountThisKill : contract::kKillCounted;
        if (PostMessageA(window, message, wParam, 0)) ++told;
    }
    return told;
}

namespace {

std::string UncountedPath(const std::string& logPath)
{
    return logPath + ".uncounted";
}

} // namespace

bool HasUncountedKills(const std::string& logPath)
{
    return !logPath.empty() &&
           GetFileAttributesA(UncountedPath(logPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t TakeUncountedKills(const std::string& logPath)
{
    if (logPath.empty()) return 0;
    const std::string path = UncountedPath(logPath);
    uint32_t kept = 0;
    {
        win::File file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !ReadAt(file.get(), 0, &kept, sizeof kept)) kept = 0;
    }
    // Not counted again; a count the file could not give is lost with it, never doubled.
    DeleteFileA(path.c_str());
    return kept;
}

bool KeepUncountedKill(const std::string& logPath)
{
    if (logPath.empty() || !IsLogName(logPath)) return false;
    win::File file(CreateFileA(UncountedPath(logPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    uint32_t kept = 0;
    if (!file) return false;
    if (!ReadAt(file.get(), 0, &kept, sizeof kept)) kept = 0;
    ++kept;
    // One write of four bytes: the count is the old one or the new one.
    return WriteAt(file.get(), 0, &kept, sizeof kept);
}

int TellTrayProgram(HANDLE writersLock, const std::string& logPath, const TKillRecording& how)
{
    int told = NotifyTrayProgram(how.askTrayToCount);
    if (how.askTrayToCount && told == 0) {
        WriterLock lock(writersLock);
        if (lock.Held()) KeepUncountedKill(logPath);
    }
    return told;
}

win::Kernel CreateWriterMutex()
{
    return win::CreateSharedMutex(contract::kWriterMutex);
}

TKillRecording RecordingFor(const contract::KillDuties& duties)
{
    TKillRecording how;
    how.appendToLog = duties.writesLog;
    how.raiseCounters = duties.writesCounters;
    how.notify = duties.notifies;
    how.askTrayToCount = duties.asksTrayToCount;
    return how;
}

TKillReport RecordKill(HANDLE writersLock, const TLogEntry& entry, const std::string& logPath,
                       int32_t maxLogSizeKb, const TKillRecording& how)
{
    TKillReport report;
    {
        WriterLock lock(writersLock);
        report.lockHeld = lock.Held();
        if (lock.Held()) {
            report.logged = how.appendToLog && !logPath.empty() &&
                            AppendLogRecord(logPath, maxLogSizeKb, entry);
            report.counted = how.raiseCounters && RaiseKillCounters(entry.Time);
        }
    }
    if (how.notify) report.notified = TellTrayProgram(writersLock, logPath, how);
    return report;
}

TKillReport ReportKill(const TLogEntry& entry, const std::string& logPath, int32_t maxLogSizeKb,
                       const TKillRecording& how)
{
    win::Kernel lock = CreateWriterMutex();
    return RecordKill(lock.get(), entry, logPath, maxLogSizeKb, how);
}

} // namespace history
