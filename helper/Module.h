#pragma once
// What the whole library shares: its own module handle and the counts that decide whether
// COM may unload it.
#include <windows.h>

#include <atomic>
#include <new>

namespace helper {

extern HINSTANCE g_module;
// Live objects (helpers and class factories) and LockServer locks of this process.
extern std::atomic<long> g_objects;
extern std::atomic<long> g_locks;
// Threads of the library's own that are running: it must not be unloaded under them.
extern std::atomic<long> g_writers;

// {2E6E1467-2E6F-424F-B42D-CB3B6995A0A3}
inline constexpr CLSID kHelperClsid = {
    0x2e6e1467, 0x2e6f, 0x424f, {0xb4, 0x2d, 0xcb, 0x3b, 0x69, 0x95, 0xa0, 0xa3}};

// Destroys, the last made first, every process-wide object the library made; DllMain only,
// on unload. The objects register themselves as they are made (TLibraryObject), so this
// module owns them all without knowing them.
void DestroyLibraryObjects() noexcept;
void RegisterLibraryObject(void (*destroy)() noexcept) noexcept;

// A process-wide object of the library (the settings cache, the writer), made on first use.
// The runtime never destroys it at the process's end: threads the system stopped then may
// have left its locks and waits behind, and a destructor waiting on them would hang the
// browser on its way out. When the library is unloaded while the process goes on (COM does
// so only when no object and no writer thread is left), DllMain destroys it.
template <typename T> class TLibraryObject {
  public:
    static T& Get()
    {
        static T* object = Make();
        return *object;
    }
    static void DestroyAtUnload() noexcept
    {
        if (made_) reinterpret_cast<T*>(storage_)->~T();
        made_ = false;
    }

  private:
    static T* Make()
    {
        T* object = ::new (static_cast<void*>(storage_)) T();
        made_ = true;
        RegisterLibraryObject(&DestroyAtUnload);
        return object;
    }
    alignas(T) static inline unsigned char storage_[sizeof(T)];
    static inline bool made_ = false;
};

// Counts one live object for as long as it lives.
struct ObjectCount {
    ObjectCount() { ++g_objects; }
    ~ObjectCount() { --g_objects; }
    ObjectCount(const ObjectCount&) = delete;
    ObjectCount& operator=(const ObjectCount&) = delete;
};

} // namespace helper
