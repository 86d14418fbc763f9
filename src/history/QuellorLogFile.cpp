#include "history/QuellorLogFile.h"

#include <array>

TQuellorLogFile::TQuellorLogFile(const std::string& path) noexcept
{
    // One call opens or creates: a separate look for the file first could replace a file
    // that the browser helper creates in between, and its entries with it. Read access
    // only: a log the user may not write, or one held by a reader that shares only
    // reading, is still shown; a missing one is created where the folder allows it.
    file_.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                            nullptr));
    isOpen_ = static_cast<bool>(file_);
}

bool TQuellorLogFile::ReadNext(history::TLogEntry& entry) noexcept
{
    if (!isOpen_) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size)) return false;
    if (next_ >= static_cast<uint64_t>(size.QuadPart) / history::kLogEntrySize) return false;

    std::array<unsigned char, history::kLogEntrySize> record;
    DWORD got = 0;
    if (!ReadFile(file_.get(), record.data(), static_cast<DWORD>(record.size()), &got, nullptr) ||
        got != record.size())
        return Rewind();
    try {
        history::DecodeLogEntry(record, entry);
    } catch (...) {
        return Rewind(); // out of memory for the texts
    }
    ++next_;
    return true;
}

uint64_t TQuellorLogFile::RecordCount() const noexcept
{
    LARGE_INTEGER size{};
    if (!isOpen_ || !GetFileSizeEx(file_.get(), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart) / history::kLogEntrySize;
}

bool TQuellorLogFile::Seek(uint64_t record) noexcept
{
    if (!isOpen_) return false;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(record * history::kLogEntrySize);
    if (!SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN)) return false;
    next_ = record;
    return true;
}

bool TQuellorLogFile::Rewind() noexcept
{
    // Back to the start of the record not delivered, so that nothing is read out of step.
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(next_ * history::kLogEntrySize);
    SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN);
    return false;
}
