// DllRegisterServer and DllUnregisterServer of ZqOpcHda_ps.dll.
//
// The interfaces are wire-compatible with the published OPC Common and OPC
// HDA interfaces, so a machine may already have another proxy/stub DLL
// registered for the same interface IDs, and other OPC applications rely on
// it. This DLL therefore registers beside it instead of over it:
// - an interface whose ProxyStubClsid32 names another class whose
//   InprocServer32 file exists is left alone (that proxy/stub serves the same
//   wire format);
// - an interface that is not registered, or whose registration names a class
//   without an existing file (an uninstalled DLL), or this DLL's class, is
//   written for this DLL;
// - unregistering removes only the interfaces that name this DLL's class,
//   then the class itself.
// Everything goes through the registry view of the DLL's bitness (kView): COM
// of that bitness reads its proxy/stub registrations there.
//
// The DLL is loaded into every process that marshals these interfaces, so it
// stays free of the C++ runtime library: no exceptions, no standard
// containers; texts live in fixed buffers or in process-heap blocks owned
// by HeapText.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <stdlib.h>
#include <wchar.h>

#include "ps_interfaces.h"

namespace zq {
namespace {

// The registry view of the DLL's own bitness: a 32-bit DLL serves 32-bit
// processes from the 32-bit view, a 64-bit DLL 64-bit processes from the
// 64-bit view (regsvr32 of each bitness registers its own DLL).
constexpr REGSAM kView = sizeof(void *) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

// An open key of that view, closed when the owner goes.
class Key
{
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }

    LONG Open(HKEY parent, const wchar_t *path, REGSAM access)
    {
        return Keep(RegOpenKeyExW(parent, path, 0, access | kView, &key_));
    }
    // Creates path below parent, or opens it if it is there.
    LONG Create(HKEY parent, const wchar_t *path)
    {
        return Keep(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_READ | KEY_WRITE | kView, nullptr, &key_,
                                    nullptr));
    }

    HKEY get() const { return key_; }

private:
    LONG Keep(LONG rc)
    {
        if (rc != ERROR_SUCCESS)
            key_ = nullptr;
        return rc;
    }

    HKEY key_ = nullptr;
};

// A zeroed wide-character block of the process heap, freed when the owner
// goes; empty (null) if the allocation failed.
class HeapText
{
public:
    HeapText() = default;
    HeapText(const HeapText &) = delete;
    HeapText &operator=(const HeapText &) = delete;
    ~HeapText() { Free(); }

    // Replaces the block by one of count characters; false if out of memory.
    bool Reset(size_t count)
    {
        Free();
        text_ = static_cast<wchar_t *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (count + 1) * sizeof(wchar_t)));
        count_ = text_ != nullptr ? count : 0;
        return text_ != nullptr;
    }

    wchar_t *get() const { return text_; }
    DWORD count() const { return static_cast<DWORD>(count_); }  // the terminating zero's place not included

private:
    void Free()
    {
        if (text_ != nullptr)
            HeapFree(GetProcessHeap(), 0, text_);
        text_ = nullptr;
        count_ = 0;
    }

    wchar_t *text_ = nullptr;
    size_t count_ = 0;
};

constexpr int kGuidTextSize = 39;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and its zero

// A key path of the form <head>{GUID}<tail>; the heads and tails are this
// file's constants, so it always fits.
struct KeyPath
{
    KeyPath(const wchar_t *head, const GUID &guid, const wchar_t *tail = L"")
    {
        lstrcpynW(text, head, kSize);
        size_t used = wcslen(text);
        StringFromGUID2(guid, text + used, static_cast<int>(kSize - used));
        used = wcslen(text);
        lstrcpynW(text + used, tail, static_cast<int>(kSize - used));
    }

    static constexpr int kSize = 96;
    wchar_t text[kSize] = {};
};

// A string value (REG_SZ or REG_EXPAND_SZ; the default value if name is null)
// of HKCR\path; false if the key or value is missing, of another type, or out
// of memory.
bool ReadText(const wchar_t *path, const wchar_t *name, HeapText &text, DWORD &type)
{
    Key key;
    if (key.Open(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD bytes = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ) || !text.Reset(bytes / sizeof(wchar_t)))
            return false;
        DWORD room = text.count() * sizeof(wchar_t);  // the zero after it stays
        LONG rc = RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(text.get()), &room);
        if (rc == ERROR_MORE_DATA)
            continue;  // the value grew in between
        return rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
    }
    return false;
}

bool Expand(const wchar_t *text, HeapText &expanded)
{
    DWORD size = ExpandEnvironmentStringsW(text, nullptr, 0);
    if (size == 0 || !expanded.Reset(size))
        return false;
    DWORD used = ExpandEnvironmentStringsW(text, expanded.get(), size);
    return used != 0 && used <= size;
}

// Trims blanks and one pair of enclosing quotes, in place; returns the start.
wchar_t *Unquote(wchar_t *text)
{
    while (*text == L' ' || *text == L'\t')
        ++text;
    size_t length = wcslen(text);
    while (length > 0 && (text[length - 1] == L' ' || text[length - 1] == L'\t'))
        text[--length] = L'\0';
    if (length >= 2 && text[0] == L'"' && text[length - 1] == L'"') {
        text[length - 1] = L'\0';
        ++text;
    }
    return text;
}

// The file named by a class's InprocServer32 exists: the value expanded if it
// is REG_EXPAND_SZ, blanks and enclosing quotes removed, and a bare file name
// looked up the way the loader would.
bool ClassFileExists(const CLSID &clsid)
{
    HeapText value;
    HeapText expanded;
    DWORD type = 0;
    if (!ReadText(KeyPath(L"CLSID\\", clsid, L"\\InprocServer32").text, nullptr, value, type))
        return false;
    if (type == REG_EXPAND_SZ && !Expand(value.get(), expanded))
        return false;
    wchar_t *file = Unquote(type == REG_EXPAND_SZ ? expanded.get() : value.get());
    if (*file == L'\0')
        return false;
    HeapText found;
    DWORD size = SearchPathW(nullptr, file, L".dll", 0, nullptr, nullptr);
    if (size == 0 || !found.Reset(size))
        return false;
    DWORD used = SearchPathW(nullptr, file, L".dll", size, found.get(), nullptr);
    if (used == 0 || used >= size)
        return false;
    DWORD attributes = GetFileAttributesW(found.get());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The class that Interface\{iid}\ProxyStubClsid32 names, if it names one.
bool NamedProxyClass(const IID &iid, CLSID &named)
{
    HeapText text;
    DWORD type = 0;
    return ReadText(KeyPath(L"Interface\\", iid, L"\\ProxyStubClsid32").text, nullptr, text, type) &&
           wcslen(text.get()) == kGuidTextSize - 1 && SUCCEEDED(IIDFromString(text.get(), &named)) &&
           !IsEqualGUID(named, GUID_NULL);
}

LONG SetText(HKEY key, const wchar_t *name, const wchar_t *text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

// Creates parent\name with text as its default value.
LONG SetSubkeyText(HKEY parent, const wchar_t *name, const wchar_t *text)
{
    Key key;
    LONG rc = key.Create(parent, name);
    return rc == ERROR_SUCCESS ? SetText(key.get(), nullptr, text) : rc;
}

// Removes HKCR\path with everything below it; a missing key is no failure.
LONG DeleteTree(const wchar_t *path)
{
    {
        Key key;
        LONG rc = key.Open(HKEY_CLASSES_ROOT, path, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE);
        if (rc == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS)
            return rc;
        rc = RegDeleteTreeW(key.get(), nullptr);
        if (rc != ERROR_SUCCESS)
            return rc;
    }
    return RegDeleteKeyExW(HKEY_CLASSES_ROOT, path, kView, 0);
}

// Full path of this DLL, found through the address of one of its objects.
bool ModulePath(HeapText &path)
{
    static const char anchor = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&anchor), &module))
        return false;
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        if (!path.Reset(size))
            return false;
        DWORD used = GetModuleFileNameW(module, path.get(), size);
        if (used == 0)
            return false;
        if (used < size)
            return true;
    }
    return false;
}

LONG WriteClass(const CLSID &clsid, const wchar_t *module)
{
    Key cls;
    LONG rc = cls.Create(HKEY_CLASSES_ROOT, KeyPath(L"CLSID\\", clsid).text);
    if (rc == ERROR_SUCCESS)
        rc = SetText(cls.get(), nullptr, L"PSFactoryBuffer");
    Key server;
    if (rc == ERROR_SUCCESS)
        rc = server.Create(cls.get(), L"InprocServer32");
    if (rc == ERROR_SUCCESS)
        rc = SetText(server.get(), nullptr, module);
    if (rc == ERROR_SUCCESS)
        rc = SetText(server.get(), L"ThreadingModel", L"Both");
    return rc;
}

LONG WriteInterface(const ZqPsInterface &itf, const CLSID &clsid)
{
    Key key;
    LONG rc = key.Create(HKEY_CLASSES_ROOT, KeyPath(L"Interface\\", *itf.iid).text);
    wchar_t text[64] = {};
    if (rc == ERROR_SUCCESS && itf.name != nullptr) {
        MultiByteToWideChar(CP_ACP, 0, itf.name, -1, text, 63);  // an IDL identifier
        rc = SetText(key.get(), nullptr, text);
    }
    if (rc == ERROR_SUCCESS) {
        _ultow(itf.methods, text, 10);
        rc = SetSubkeyText(key.get(), L"NumMethods", text);
    }
    if (rc == ERROR_SUCCESS) {
        StringFromGUID2(clsid, text, kGuidTextSize);
        rc = SetSubkeyText(key.get(), L"ProxyStubClsid32", text);
    }
    return rc;
}

HRESULT Register()
{
    const CLSID &ours = *ZqPsFactoryClsid();
    HeapText module;
    // The class goes first, so that no interface ever names a class that is
    // not registered.
    if (!ModulePath(module) || WriteClass(ours, module.get()) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    LONG failed = ERROR_SUCCESS;
    ZqPsInterface itf{};
    for (unsigned long i = 0; ZqPsInterfaceAt(i, &itf); ++i) {
        CLSID named{};
        if (NamedProxyClass(*itf.iid, named) && !IsEqualCLSID(named, ours) && ClassFileExists(named))
            continue;  // another proxy/stub serves this interface
        LONG rc = WriteInterface(itf, ours);
        if (failed == ERROR_SUCCESS)
            failed = rc;
    }
    return failed == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(failed);
}

HRESULT Unregister()
{
    const CLSID &ours = *ZqPsFactoryClsid();
    LONG failed = ERROR_SUCCESS;
    ZqPsInterface itf{};
    for (unsigned long i = 0; ZqPsInterfaceAt(i, &itf); ++i) {
        CLSID named{};
        if (!NamedProxyClass(*itf.iid, named) || !IsEqualCLSID(named, ours))
            continue;  // not ours: another proxy/stub's, or not registered
        LONG rc = DeleteTree(KeyPath(L"Interface\\", *itf.iid).text);
        if (failed == ERROR_SUCCESS)
            failed = rc;
    }
    // The class stays while an interface still names it.
    if (failed != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(failed);
    return DeleteTree(KeyPath(L"CLSID\\", ours).text) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

} // namespace
} // namespace zq

// Nothing here throws (the file is built without exceptions and calls only
// the system), so the bodies need no guard.
STDAPI DllRegisterServer()
{
    return zq::Register();
}

STDAPI DllUnregisterServer()
{
    return zq::Unregister();
}
