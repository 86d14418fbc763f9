#pragma once
// Shared by the tests under Wine: paths, a fresh folder per test, pumping messages.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "win/Handles.h"

namespace testsupport {

// The staged program folder (build/Quellor) as a Windows path.
std::string StageDir();
// A build file's host path as Wine sees it, on drive Z:.
std::string HostPath(const std::string& unixPath);

// A new empty folder under the Wine temp folder; its name may hold blanks.
std::string FreshFolder(const std::string& hint);
void CopyFileOrFail(const std::string& from, const std::string& to);
bool FileExists(const std::string& path);
// A path in the ANSI code page as Unicode, for the W calls.
std::wstring Wide(const std::string& ansi);
bool FolderExists(const std::string& path);
// The names of what a folder holds, files and folders, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Pumps this thread's messages until the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);
void PumpFor(DWORD ms);

// The clipboard's text (CF_TEXT), whichever process put it there; empty when there is none.
std::string ClipboardText();
// Its Unicode text (CF_UNICODETEXT, which the system makes from the other if need be).
std::wstring ClipboardUnicodeText();

// Deletes a registry key and everything below it.
void DeleteKeyTree(HKEY root, const std::string& path);

// Group Policy's key for Quellor in the computer's hive and the user's, written as an
// administrator's tools write it (the 64-bit view). Both hives start without it, and lose it
// again, with the parents this made, however the test ends.
class PolicyKeys {
  public:
    PolicyKeys();
    ~PolicyKeys();
    PolicyKeys(const PolicyKeys&) = delete;
    PolicyKeys& operator=(const PolicyKeys&) = delete;
    void Set(HKEY root, const char* name, DWORD type, const std::string& bytes);
    void SetDword(HKEY root, const char* name, DWORD value);
    // A rule of one of the list keys, named by the next number.
    void AddRule(HKEY root, const char* list, const std::string& url);
    // Also what a test that sets none makes sure of: a test that died left them behind.
    static void Clear();

  private:
    bool hadPolicies_[2];
};

// One of the user's shell folders moved through User Shell Folders, where Windows (and
// Wine) look first, and put back however the test ends.
class MovedUserFolder {
  public:
    MovedUserFolder(const wchar_t* name, const std::wstring& path);
    ~MovedUserFolder();
    MovedUserFolder(const MovedUserFolder&) = delete;
    MovedUserFolder& operator=(const MovedUserFolder&) = delete;

  private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

// A report list's column header text and width, read from the window itself.
struct ListColumn {
    std::string text;
    int width = 0;
};
ListColumn ReadListColumn(HWND list, int index);

// The pixels of the right end of the taskbar, where Wine's desktop draws the tray icons;
// empty when there is no taskbar. Two equal captures show the same icons.
std::vector<DWORD> TrayPixels();

// The screen's pixels in an area, row by row, top first, as 0x00RRGGBB values.
std::vector<DWORD> ScreenPixels(const RECT& area);

// What User Account Control's tokens do that Wine checks (access lists between tokens,
// nothing else of them). An elevated administrator's objects get, by default, an access
// list of administrators and SYSTEM alone: ours made so. A standard user's token has the
// administrators group only to deny. Null on failure.
inline constexpr char kElevatedDefaultDacl[] = "D:(A;;GA;;;BA)(A;;GA;;;SY)";
bool SetDefaultDacl(HANDLE token, const char* sddl);
win::Kernel ElevatedToken();
win::Kernel StandardUserToken();

// The program's records as the tests write and read them: a rule (257 bytes: the address
// as a length-prefixed text, the kind last) and a log record (520 bytes: the time, then the
// pop-up's address at 8 and the page's at 264, each length-prefixed).
std::string RuleBytes(const std::string& url, unsigned char kind);
std::string LogRecordBytes(double time, const std::string& url, const std::string& source);
struct LogRecord {
    std::string url, source;
};
// The whole records of a log's bytes, or of a file (none when it is missing).
std::vector<LogRecord> LogRecords(const std::string& bytes);
std::vector<LogRecord> ReadLog(const std::string& path);

// While one lives, allocations on this thread throw std::bad_alloc: every one, or, given a
// count, only the one after that many succeeded (to fail each point of a piece of work in
// turn). The test programs that link this allocate through it.
class FailingAllocations {
  public:
    FailingAllocations();
    explicit FailingAllocations(long succeeding);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
    // Whether an allocation has failed since this was made.
    bool Failed() const;
};

} // namespace testsupport
