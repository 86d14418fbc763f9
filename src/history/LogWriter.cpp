#include "history/LogWriter.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
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

namespace {

win::RegKey OpenCounters(REGSAM access)
{
    win::RegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, contract::kSettingsKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, access, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return {};
    return key;
}

} // namespace

TKillCounters NextKillCounters(double now)
{
    TKillCounters next;
    next.date = std::floor(now);
    win::RegKey key = OpenCounters(KEY_QUERY_VALUE);
    if (!key) return {1, 1, next.date};
    next.total = ReadCounter(key.get(), contract::kKillsToDate);
    next.today = std::floor(ReadDate(key.get(), contract::kKillDate)) == next.date
                     ? ReadCounter(key.get(), contract::kKillsToday)
                     : 0;
    if (next.total < INT32_MAX) ++next.total;
    if (next.today < INT32_MAX) ++next.today;
    return next;
}

bool SetKillCounters(const TKillCounters& counters)
{
    win::RegKey key = OpenCounters(KEY_SET_VALUE);
    auto set = [&](const char* name, DWORD type, const void* data, DWORD bytes) {
        return key && RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data),
                                     bytes) == ERROR_SUCCESS;
    };
    return set(contract::kKillsToDate, REG_DWORD, &counters.total, sizeof counters.total) &&
           set(contract::kKillsToday, REG_DWORD, &counters.today, sizeof counters.today) &&
           set(contract::kKillDate, REG_BINARY, &counters.date, sizeof counters.date);
}

bool RaiseKillCounters(double now)
{
    return SetKillCounters(NextKillCounters(now));
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

namespace {

// A kept kill's file: its stage, the counters it is to set once counted, and the record.
// The stage and the counters are written in one piece, so each is the old or the new.
enum class Stage : uint32_t { kept, logging, logged, counting };
struct KeptHeader {
    char magic[4] = {'Q', 'K', 'K', '1'};
    Stage stage = Stage::kept;
    TKillCounters counters;
};
// The same bytes from 32-bit and 64-bit browsers, which share the folder.
static_assert(sizeof(KeptHeader) == 24 && offsetof(KeptHeader, counters) == 8);
constexpr size_t kKeptSize = sizeof(KeptHeader) + kLogEntrySize;
constexpr size_t kKeptName = 32; // hex: the time kept, the process, a number of the process

std::string KeptFolder(const std::string& logPath)
{
    return logPath + ".kills\\";
}

bool IsKeptStem(const char* name)
{
    return std::strlen(name) >= kKeptName &&
           std::all_of(name, name + kKeptName, [](char c) { return std::isxdigit(c & 0xFF); });
}

bool IsKeptName(const char* name)
{
    return IsKeptStem(name) && std::strcmp(name + kKeptName, ".kill") == 0;
}

// A kill's file while it is written, before it takes its name.
bool IsKeepingName(const char* name)
{
    return name[0] == '~' && IsKeptStem(name + 1) && name[kKeptName + 1] == 0;
}

// The kept files' names in the order kept.
std::vector<std::string> KeptNames(const std::string& logPath)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((KeptFolder(logPath) + "*.kill").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (IsKeptName(found.cFileName)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool SetStage(HANDLE file, KeptHeader& header, Stage stage)
{
    header.stage = stage;
    return WriteAt(file, 0, &header, sizeof header);
}

// Whether the log's last whole record is this one: a writer stopped after its append and
// before it wrote so down.
bool LogEndsWith(const std::string& path, const std::array<unsigned char, kLogEntrySize>& record)
{
    win::File log = OpenLog(path, false);
    LARGE_INTEGER size{};
    std::array<unsigned char, kLogEntrySize> last;
    if (!log || !GetFileSizeEx(log.get(), &size)) return false;
    uint64_t records = static_cast<uint64_t>(size.QuadPart) / kLogEntrySize;
    return records > 0 &&
           ReadAt(log.get(), (records - 1) * kLogEntrySize, last.data(), last.size()) &&
           last == record;
}

// One kept kill taken on from its stage. False when it stays kept (it could not be read or
// written now).
bool TakeKeptKill(const std::string& path, const std::string& logPath, int32_t maxLogSizeKb,
                  const TKillRecording& how, TKeptKills& done)
{
    win::File file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    KeptHeader header;
    std::array<unsigned char, kLogEntrySize> record;
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart != static_cast<LONGLONG>(kKeptSize) ||
        !ReadAt(file.get(), 0, &header, sizeof header) ||
        !ReadAt(file.get(), sizeof header, record.data(), record.size()) ||
        std::memcmp(header.magic, KeptHeader{}.magic, sizeof header.magic) != 0) {
        // Not one of ours as written: nothing to take.
        file.reset();
        DeleteFileA(path.c_str());
        return true;
    }
    TLogEntry entry;
    DecodeLogEntry(record, entry);
    std::array<unsigned char, kLogEntrySize> appended;
    EncodeLogEntry(entry, appended);
    if (header.stage == Stage::kept || header.stage == Stage::logging) {
        bool logged = header.stage == Stage::logging && LogEndsWith(logPath, appended);
        if (!SetStage(file.get(), header, Stage::logging)) return false;
        // A record that cannot be written is given up, as it always was; its count is not.
        if (!logged && how.appendToLog) AppendLogRecord(logPath, maxLogSizeKb, entry);
        if (!SetStage(file.get(), header, Stage::logged)) return false;
    }
    if (how.raiseCounters) {
        if (header.stage != Stage::counting) {
            header.counters = NextKillCounters(entry.Time);
            if (!SetStage(file.get(), header, Stage::counting)) return false;
        }
        SetKillCounters(header.counters);
    }
    file.reset();
    if (!DeleteFileA(path.c_str())) return false;
    ++done.taken;
    if (how.notify) {
        int told = NotifyTrayProgram(how.askTrayToCount);
        if (how.askTrayToCount && told == 0) KeepUncountedKill(logPath);
        done.notified += told;
    }
    return true;
}

} // namespace

bool KeepKill(const std::string& logPath, const TLogEntry& entry)
{
    if (logPath.empty() || !IsLogName(logPath)) return false;
    const std::string folder = KeptFolder(logPath);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    // Named by the time it is kept, never earlier than this process's last one even when the
    // clock goes back, then by process: their order is the order of the kills.
    static std::mutex naming;
    static ULONGLONG last = 0;
    static unsigned long number = 0;
    char name[kKeptName + 1];
    {
        std::lock_guard<std::mutex> lock(naming);
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        last =
            std::max(last, (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
        std::snprintf(name, sizeof name, "%016llX%08lX%08lX", last, GetCurrentProcessId(),
                      ++number);
    }
    const std::string path = folder + name + ".kill";
    const std::string writing = folder + "~" + name;
    KeptHeader header;
    std::array<unsigned char, kKeptSize> bytes{};
    std::memcpy(bytes.data(), &header, sizeof header);
    EncodeLogEntry(entry, std::span<unsigned char, kLogEntrySize>(bytes.data() + sizeof header,
                                                                  kLogEntrySize));
    {
        win::File file(CreateFileA(writing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !WriteAt(file.get(), 0, bytes.data(), bytes.size())) {
            file.reset();
            DeleteFileA(writing.c_str());
            return false;
        }
    }
    // Whole under its name or not there at all.
    if (MoveFileA(writing.c_str(), path.c_str())) return true;
    DeleteFileA(writing.c_str());
    return false;
}

bool HasKeptKills(const std::string& logPath)
{
    return !logPath.empty() && !KeptNames(logPath).empty();
}

void ForgetKeptKills(const std::string& logPath)
{
    if (logPath.empty()) return;
    const std::string folder = KeptFolder(logPath);
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            // Only our own names: the log's folder may be any the user chose.
            const char* name = found.cFileName;
            if (IsKeptName(name) || IsKeepingName(name)) DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

TKeptKills TakeKeptKills(const std::string& logPath, int32_t maxLogSizeKb,
                         const TKillRecording& how)
{
    TKeptKills done;
    if (logPath.empty()) return done;
    for (const std::string& name : KeptNames(logPath)) {
        // The order is the kills': one that cannot be taken now holds back those after it.
        if (!TakeKeptKill(KeptFolder(logPath) + name, logPath, maxLogSizeKb, how, done))
            return done;
    }
    // No empty folder stays beside the log. A browser keeping a kill just now finds it gone
    // and records its kill the old way.
    RemoveDirectoryA(KeptFolder(logPath).c_str());
    return done;
}

TKeptKills RecordKeptKills(HANDLE writersLock, const std::string& logPath, int32_t maxLogSizeKb,
                           const TKillRecording& how)
{
    WriterLock lock(writersLock);
    if (!lock.Held()) return {};
    return TakeKeptKills(logPath, maxLogSizeKb, how);
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
