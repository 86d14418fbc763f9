// QUELLOR.DLL, the browser helper: an in-process COM server with one class, loaded by
// Internet Explorer into each of its processes.
#include "helper/Module.h"

#include <algorithm>
#include <iterator>

#include <olectl.h>

#include <new>

#include "helper/BrowserHelper.h"
#include "helper_contract/HelperContract.h"
#include "win/Handles.h"
#include "win/Modules.h"

namespace helper {

HINSTANCE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::atomic<long> g_writers{0};

namespace {
// The library's process-wide objects, in the order they were made: a few, so no allocation.
void (*g_destroyers[8])() noexcept = {};
std::atomic<int> g_madeObjects{0};
} // namespace

void RegisterLibraryObject(void (*destroy)() noexcept) noexcept
{
    int slot = g_madeObjects++;
    if (slot < static_cast<int>(std::size(g_destroyers))) g_destroyers[slot] = destroy;
}

void DestroyLibraryObjects() noexcept
{
    int made = std::min<int>(g_madeObjects.exchange(0), static_cast<int>(std::size(g_destroyers)));
    for (int slot = made - 1; slot >= 0; --slot)
        g_destroyers[slot]();
}

namespace {

constexpr char kClassName[] = "Quellor Browser Helper";

std::string ClsidKey()
{
    return std::string("CLSID\\") + contract::kHelperClsid;
}

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                             void** out) noexcept override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return CreateBrowserHelper(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        if (lock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }

  private:
    ObjectCount count_;
    std::atomic<ULONG> refs_{1};
};

HRESULT Failure(LONG error)
{
    return HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
}

LONG SetString(HKEY root, const std::string& path, const char* name, const std::string& value)
{
    win::RegKey key;
    LONG result = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (result != ERROR_SUCCESS) return result;
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

LONG SetDword(HKEY root, const char* path, const char* name, DWORD value)
{
    win::RegKey key;
    LONG result = RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, key.put(), nullptr);
    if (result != ERROR_SUCCESS) return result;
    return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

// A key that is already gone counts as removed.
LONG DeleteKey(HKEY root, const std::string& path)
{
    LONG result = RegDeleteKeyA(root, path.c_str());
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

HRESULT Unregister()
{
    // Every key is tried, so that one refusal leaves as little behind as it can.
    LONG results[] = {
        DeleteKey(HKEY_LOCAL_MACHINE, contract::kHelperKey),
        DeleteKey(HKEY_CLASSES_ROOT, ClsidKey() + "\\InprocServer32"),
        DeleteKey(HKEY_CLASSES_ROOT, ClsidKey()),
    };
    for (LONG result : results)
        if (result != ERROR_SUCCESS) return Failure(result);
    return S_OK;
}

} // namespace

} // namespace helper

using namespace helper;

// Never waits on anything: the loader lock is held here.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary, nothing of ours running; at the process's end (reserved
        // set) nothing is torn down.
        DestroyLibraryObjects();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 && g_writers == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != kHelperClsid) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory;
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    try {
        std::string path = win::ModulePath(g_module);
        if (path.empty()) return Failure(GetLastError());
        std::string clsid = ClsidKey();
        LONG results[] = {
            SetString(HKEY_CLASSES_ROOT, clsid, nullptr, kClassName),
            SetString(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", nullptr, path),
            SetString(HKEY_CLASSES_ROOT, clsid + "\\InprocServer32", "ThreadingModel", "Apartment"),
            // Windows Explorer loads browser helpers too; ours has nothing to do there.
            SetDword(HKEY_LOCAL_MACHINE, contract::kHelperKey, "NoExplorer", 1),
        };
        for (LONG result : results)
            if (result != ERROR_SUCCESS) {
                Unregister(); // no half registration left behind
                return Failure(result);
            }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    try {
        return Unregister();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
