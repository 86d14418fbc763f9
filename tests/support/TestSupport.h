#pragma once
// Shared by the tests under Wine: paths, a fresh folder per test, pumping messages.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// Deletes a registry key and everything below it.
void DeleteKeyTree(HKEY root, const std::string& path);

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

} // namespace testsupport
