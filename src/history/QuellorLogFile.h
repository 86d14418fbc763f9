#pragma once
// Reader of the history log file. The browser helper appends to the file while we may be
// reading it, so the file is shared for reading and writing and its size is taken anew
// before every record. Nothing here fails outward: an error only ends the reading.
#include <windows.h>

#include <cstdint>
#include <string>

#include "history/LogEntry.h"
#include "win/Handles.h"

class TQuellorLogFile {
  public:
    // Opens the file, or creates it empty when there is none.
    explicit TQuellorLogFile(const std::string& path) noexcept;
    TQuellorLogFile(const TQuellorLogFile&) = delete;
    TQuellorLogFile& operator=(const TQuellorLogFile&) = delete;

    bool IsOpen() const { return isOpen_; }
    // False at the end of the file, after any error, and always when the file is not open.
    bool ReadNext(history::TLogEntry& entry) noexcept;
    // The whole records in the file now; 0 when it is not open or cannot be measured.
    uint64_t RecordCount() const noexcept;
    // Makes the record with that number the next one read: a page that holds the first
    // records already reads only what was appended after them.
    bool Seek(uint64_t record) noexcept;

  private:
    bool Rewind() noexcept;
    win::File file_; // closed by its destructor
    bool isOpen_ = false;
    uint64_t next_ = 0; // number of the next record; the file is positioned at it
};
