// IOPCCommon: one locale (the system default), error texts from a fixed
// table with the system's texts and a generic text as fallbacks, and the
// client's name.
#include "com/opc_common.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "com/interface_object.h"
#include "opccomn.h"
#include "runtime/guard.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

constexpr LCID kLocale = 0x800; // LOCALE_SYSTEM_DEFAULT

struct ErrorText
{
    HRESULT code;
    const char *text;
};

// Searched in this order.
const ErrorText kErrorTexts[] = {
    {static_cast<HRESULT>(0xC0040001), "OPC_E_INVALIDHANDLE: An invalid handle was passed"},
    {static_cast<HRESULT>(0xC004000C),
     "OPC_E_DUPLICATENAME: A duplicate parameter was passed where one is not allowed"},
    {static_cast<HRESULT>(0xC0040004),
     "OPC_E_BADTYPE: The server cannot convert between the passed or requested data type and "
     "the canonical type"},
    {static_cast<HRESULT>(0xC0040005),
     "OPC_E_PUBLIC: The requested operation cannot be done on a public group"},
    {static_cast<HRESULT>(0xC0040006),
     "OPC_E_BADRIGHTS: The item's AccessRights do not allow the operation"},
    {static_cast<HRESULT>(0xC0040007),
     "OPC_E_UNKNOWNITEMID: The item definition does not exist within the servers address space"},
    {static_cast<HRESULT>(0xC0040008),
     "OPC_E_INVALIDITEMID: The item definition does not conform to the server's syntax"},
    {static_cast<HRESULT>(0xC0040009), "OPC_E_INVALIDFILTER: The filter string is not valid"},
    {static_cast<HRESULT>(0xC004000A),
     "OPC_E_UNKNOWNPATH: The item's access path is not known to the server"},
    {static_cast<HRESULT>(0xC004000B), "OPC_E_RANGE: The value passed to WRITE was out of range"},
    {static_cast<HRESULT>(0x0004000D),
     "OPC_S_UNSUPPORTEDRATE: The server does not support the requested rate, but will use the "
     "closest available"},
    {static_cast<HRESULT>(0x0004000E),
     "OPC_S_CLAMP: A value passed to WRITE was accepted, but was clamped"},
    {static_cast<HRESULT>(0x0004000F),
     "OPC_S_INUSE: The operation cannot be completed because the object still has references "
     "that exist"},
    {static_cast<HRESULT>(0xC0040010),
     "OPC_E_INVALIDCONFIGFILE: The server's configuration file is an invalid format"},
    {static_cast<HRESULT>(0xC0040011),
     "OPC_E_NOTFOUND: The server could not locate the requested object"},
    {static_cast<HRESULT>(0xC0040203),
     "OPC_E_INVALID_PID: The server does not recognise the passed property ID."},
};

constexpr DWORD kTextBuffer = 127;

// The text for a result code, at most 127 bytes: the table's, else the
// system's (as the system returns it), else the generic text.
void ErrorTextOf(HRESULT code, char (&text)[kTextBuffer + 1])
{
    text[0] = '\0';
    for (const ErrorText &e : kErrorTexts) {
        if (e.code == code) {
            strncpy(text, e.text, kTextBuffer);
            text[kTextBuffer] = '\0';
            return;
        }
    }
    // Inserts are never expanded: there are no arguments to expand them from,
    // and a system text with %1 would otherwise be read with a null list.
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(code), 0, text, kTextBuffer, nullptr);
    if (n > 0 && n < kTextBuffer) {
        text[n] = '\0';
        return;
    }
    snprintf(text, kTextBuffer, "<unknown error: 0x%08X %d>", static_cast<unsigned>(code),
             static_cast<int>(code));
    text[kTextBuffer] = '\0';
}

class CommonInterface final : public InterfaceObject<IOPCCommon>
{
public:
    explicit CommonInterface(HDAServer *owner)
        : InterfaceObject(owner, {texts::kIOPCCommon_AddRef_defered_to_OPCServer,
                                  texts::kIOPCCommon_Release_defered_to_OPCServer,
                                  texts::kIOPCCommon_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID lcid) override
    {
        return lcid == kLocale ? S_OK : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *lcid) override
    {
        if (lcid == nullptr)
            return E_INVALIDARG;
        *lcid = kLocale;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD *count, LCID **lcids) override
    {
        if (count != nullptr)
            *count = 0;
        if (lcids != nullptr)
            *lcids = nullptr;
        if (count == nullptr || lcids == nullptr)
            return E_INVALIDARG;
        LCID *array = ZeroedTaskArray<LCID>(1);
        if (array == nullptr)
            return E_OUTOFMEMORY;
        array[0] = kLocale;
        *lcids = array;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT code, LPWSTR *out) override
    {
        if (out == nullptr)
            return E_INVALIDARG;
        *out = nullptr;
        char text[kTextBuffer + 1];
        ErrorTextOf(code, text);
        if (text[0] == '\0')
            return E_FAIL;
        *out = WideCopy(text, true);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR name) override
    {
        return Guarded([&] {
            // The name only describes the client: a character the code page
            // cannot hold is kept as its default character.
            std::string converted;
            AnsiFromWide(name, converted);
            owner_->SetClientName(std::move(converted));
            return S_OK;
        });
    }
};

} // namespace

OwnedInterface *CreateCommonInterface(HDAServer *owner)
{
    return new (std::nothrow) CommonInterface(owner);
}

} // namespace zq
