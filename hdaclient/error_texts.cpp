#include "error_texts.h"

#include <cwctype>

namespace zqhda {

namespace {

struct CodeText
{
    DWORD code;
    const wchar_t *text;
};

// Every OPC Common / Data Access code an OPC HDA server may return, and every
// OPC HDA code.
const CodeText kTexts[] = {
    {0xC0040001, L"the handle is not valid"},
    {0xC0040004, L"the value cannot be converted to the requested data type"},
    {0xC0040005, L"the requested operation cannot be done on a public group"},
    {0xC0040006, L"the item's access rights do not allow the operation"},
    {0xC0040007, L"the item ID is not in the server's address space"},
    {0xC0040008, L"the item ID does not follow the server's syntax"},
    {0xC0040009, L"the filter string is not valid"},
    {0xC004000A, L"the item's access path is not known to the server"},
    {0xC004000B, L"the value is out of range"},
    {0xC004000C, L"the name is already in use"},
    {0x0004000D, L"the server does not support the requested rate and uses the closest one"},
    {0x0004000E, L"the value was accepted but clamped to its limits"},
    {0x0004000F, L"the operation cannot be done while the object is referenced"},
    {0xC0040010, L"the server's configuration file has a bad format"},
    {0xC0040011, L"the requested object (such as a public group) was not found"},
    {0xC0040203, L"the property ID is not valid for the item"},
    {0xC0040400, L"the item has no deadband set"},
    {0xC0040401, L"the item does not support a deadband"},
    {0xC0040402, L"the server does not support buffering of data items"},
    {0xC0040403, L"the continuation point is not valid"},
    {0x00040404, L"values were lost: the server's data queue overflowed"},
    {0xC0040405, L"the item has no sampling rate set"},
    {0xC0040406, L"the server does not support this operation"},
    {0xC0040407, L"the data type of the complex item changed"},
    {0xC0040408, L"the complex item's filter is not valid"},
    {0xC0040409, L"the complex item's filter type is not supported"},
    {0xC004040A, L"the complex item's filter failed"},
    {0x0004040B, L"the complex item's filter returned no data"},
    {0xC0041001, L"more values were requested than the server returns in one call"},
    {0x40041002, L"no data in the requested range"},
    {0x40041003, L"there is more data than was returned"},
    {0xC0041004, L"the aggregate is not valid"},
    {0x40041005, L"only the current attribute values are available"},
    {0x40041006, L"more values exist at the same time stamp"},
    {0x80041007, L"the server does not support this filter"},
    {0xC0041008, L"the server does not support this attribute"},
    {0xC0041009, L"the aggregate is not available for this item"},
    {0xC004100A, L"the data type does not fit the attribute"},
    {0xC004100B, L"the insert failed: a value exists at that time"},
    {0xC004100C, L"the attribute ID is not valid"},
    {0xC004100D, L"no value exists at that time"},
    {0x4004100E, L"the value was inserted"},
    {0x4004100F, L"the value was replaced"},
};

std::wstring Lower(const std::wstring &text)
{
    std::wstring s;
    for (wchar_t ch : text)
        s += static_cast<wchar_t>(towlower(ch));
    return s;
}

}  // namespace

std::wstring ClientCodeText(HRESULT code)
{
    for (const auto &t : kTexts)
        if (t.code == static_cast<DWORD>(code))
            return t.text;
    return {};
}

bool IsPlaceholderText(const std::wstring &text, HRESULT code)
{
    bool blank = true;
    for (wchar_t ch : text)
        blank = blank && iswspace(ch);
    if (blank)
        return true;
    wchar_t hex[16], dec[16], sdec[16];
    swprintf(hex, 16, L"%08x", static_cast<unsigned>(code));
    swprintf(dec, 16, L"%u", static_cast<unsigned>(code));
    swprintf(sdec, 16, L"%d", static_cast<int>(code));
    std::wstring lower = Lower(text);
    bool number = lower.find(hex) != std::wstring::npos || lower.find(dec) != std::wstring::npos ||
                  lower.find(sdec) != std::wstring::npos;
    return number && lower.find(L"unknown") != std::wstring::npos;
}

}  // namespace zqhda
