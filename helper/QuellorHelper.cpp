// Stand-in for the browser helper: registers and unregisters itself as a browser helper
// object, so that installation and uninstallation have a real library to work with.
#include <windows.h>

#include <olectl.h>

#include "helper_contract/HelperContract.h"

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, contract::kHelperKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    RegCloseKey(key);
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, contract::kHelperKey);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
