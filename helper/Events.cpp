#include "helper/Events.h"

namespace helper {

const VARIANT* Arg(const DISPPARAMS* params, UINT index, UINT count)
{
    if (!params || params->cArgs != count || !params->rgvarg || index >= count) return nullptr;
    return &params->rgvarg[count - 1 - index];
}

VARIANT_BOOL* CancelOf(const VARIANT* arg)
{
    return arg && arg->vt == (VT_BYREF | VT_BOOL) && arg->pboolVal ? arg->pboolVal : nullptr;
}

bool BoolOf(const VARIANT* arg, bool& value)
{
    if (!arg) return false;
    if (arg->vt == VT_BOOL) {
        value = arg->boolVal != VARIANT_FALSE;
        return true;
    }
    if (arg->vt == (VT_BYREF | VT_BOOL) && arg->pboolVal) {
        value = *arg->pboolVal != VARIANT_FALSE;
        return true;
    }
    return false;
}

bool IntOf(const VARIANT* arg, long& value)
{
    if (!arg) return false;
    switch (arg->vt) {
    case VT_I4:
        value = arg->lVal;
        return true;
    case VT_UI4:
        value = static_cast<long>(arg->ulVal);
        return true;
    case VT_INT:
        value = arg->intVal;
        return true;
    case VT_UINT:
        value = static_cast<long>(arg->uintVal);
        return true;
    case VT_I2:
        value = arg->iVal;
        return true;
    case VT_UI2:
        value = arg->uiVal;
        return true;
    default:
        return false;
    }
}

const wchar_t* TextOf(const VARIANT* arg, UINT& length)
{
    length = 0;
    if (!arg) return nullptr;
    BSTR text = nullptr;
    if (arg->vt == VT_BSTR)
        text = arg->bstrVal;
    else if (arg->vt == (VT_BYREF | VT_BSTR) && arg->pbstrVal)
        text = *arg->pbstrVal;
    else if (arg->vt == (VT_BYREF | VT_VARIANT) && arg->pvarVal && arg->pvarVal->vt == VT_BSTR)
        text = arg->pvarVal->bstrVal;
    else
        return nullptr;
    length = SysStringLen(text);
    return text ? text : L"";
}

IUnknown* ObjectOf(const VARIANT* arg)
{
    if (!arg) return nullptr;
    if (arg->vt == VT_DISPATCH) return arg->pdispVal;
    if (arg->vt == VT_UNKNOWN) return arg->punkVal;
    return nullptr;
}

std::string Ansi(const wchar_t* text, UINT length)
{
    if (!text || length == 0) return {};
    // No best fit: a character the code page lacks must not become a look-alike that
    // matches a rule meant for another site; it becomes the default character.
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(CP_ACP, flags, text, static_cast<int>(length), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0) return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, text, static_cast<int>(length), result.data(), size, nullptr,
                        nullptr);
    return result;
}

std::string CutAnsi(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes) return text;
    size_t end = 0;
    while (end < text.size()) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[end])) ? 2 : 1;
        if (end + step > maxBytes) break;
        end += step;
    }
    return text.substr(0, end);
}

} // namespace helper
