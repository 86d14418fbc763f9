#pragma once
// Owning wrappers for the handles the program opens: each closes in its destructor
// and cannot be copied. Borrowed handles (shared icons, child windows) stay raw.
#include <windows.h>

namespace win {

template <typename T, typename Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(T h) : h_(h) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : h_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    T get() const { return h_; }
    T* put()
    {
        reset();
        return &h_;
    }
    T release()
    {
        T h = h_;
        h_ = Traits::invalid();
        return h;
    }
    void reset(T h = Traits::invalid())
    {
        if (Traits::valid(h_)) Traits::close(h_);
        h_ = h;
    }
    explicit operator bool() const { return Traits::valid(h_); }

private:
    T h_ = Traits::invalid();
};

struct RegKeyTraits {
    static HKEY invalid() { return nullptr; }
    static bool valid(HKEY h) { return h != nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct FileTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
// Kernel objects that CreateMutex, CreateEvent and the like give null for on failure.
struct KernelTraits {
    static HANDLE invalid() { return nullptr; }
    static bool valid(HANDLE h) { return h != nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static bool valid(HMODULE h) { return h != nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};
struct IconTraits {
    static HICON invalid() { return nullptr; }
    static bool valid(HICON h) { return h != nullptr; }
    static void close(HICON h) { DestroyIcon(h); }
};
struct FontTraits {
    static HFONT invalid() { return nullptr; }
    static bool valid(HFONT h) { return h != nullptr; }
    static void close(HFONT h) { DeleteObject(h); }
};
struct BrushTraits {
    static HBRUSH invalid() { return nullptr; }
    static bool valid(HBRUSH h) { return h != nullptr; }
    static void close(HBRUSH h) { DeleteObject(h); }
};
struct MenuTraits {
    static HMENU invalid() { return nullptr; }
    static bool valid(HMENU h) { return h != nullptr; }
    static void close(HMENU h) { DestroyMenu(h); }
};

using RegKey = Unique<HKEY, RegKeyTraits>;
using File = Unique<HANDLE, FileTraits>;
using Kernel = Unique<HANDLE, KernelTraits>;
using Module = Unique<HMODULE, ModuleTraits>;
using Icon = Unique<HICON, IconTraits>;
using Font = Unique<HFONT, FontTraits>;
using Brush = Unique<HBRUSH, BrushTraits>;
using Menu = Unique<HMENU, MenuTraits>;

} // namespace win
