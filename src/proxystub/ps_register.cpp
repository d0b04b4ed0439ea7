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
// Everything goes through the 32-bit registry view: this is a 32-bit DLL, and
// 32-bit COM reads its proxy/stub registrations there.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <cstring>
#include <string>

#include "ps_interfaces.h"
#include "runtime/guard.h"

namespace zq {
namespace {

constexpr REGSAM kView = KEY_WOW64_32KEY;

// An open key of the 32-bit view, closed when the owner goes.
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

    LONG Open(HKEY parent, const std::wstring &path, REGSAM access)
    {
        return Keep(RegOpenKeyExW(parent, path.c_str(), 0, access | kView, &key_));
    }
    // Creates path below parent, or opens it if it is there.
    LONG Create(HKEY parent, const std::wstring &path)
    {
        return Keep(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE | kView, nullptr,
                                    &key_, nullptr));
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

std::wstring GuidText(const GUID &guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// A string value (REG_SZ or REG_EXPAND_SZ, default value if name is null) of
// HKCR\path; false if the key or value is missing or of another type.
bool ReadText(const std::wstring &path, const wchar_t *name, std::wstring &text, DWORD &type)
{
    Key key;
    if (key.Open(HKEY_CLASSES_ROOT, path, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD bytes = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD room = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        LONG rc = RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(&buffer[0]), &room);
        if (rc == ERROR_MORE_DATA)
            continue;  // the value grew in between
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        buffer.resize(room / sizeof(wchar_t));
        text.assign(buffer.c_str());  // up to the first terminating zero
        return true;
    }
    return false;
}

std::wstring Expand(const std::wstring &text)
{
    DWORD size = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (size == 0)
        return text;
    std::wstring expanded(size, L'\0');
    DWORD used = ExpandEnvironmentStringsW(text.c_str(), &expanded[0], size);
    if (used == 0 || used > size)
        return text;
    return expanded.c_str();
}

// The file named by a class's InprocServer32 exists: the value expanded if it
// is REG_EXPAND_SZ, blanks and enclosing quotes removed, and a bare file name
// looked up the way the loader would.
bool ClassFileExists(const CLSID &clsid)
{
    std::wstring file;
    DWORD type = 0;
    if (!ReadText(L"CLSID\\" + GuidText(clsid) + L"\\InprocServer32", nullptr, file, type))
        return false;
    if (type == REG_EXPAND_SZ)
        file = Expand(file);
    size_t first = file.find_first_not_of(L" \t");
    size_t last = file.find_last_not_of(L" \t");
    if (first == std::wstring::npos)
        return false;
    file = file.substr(first, last - first + 1);
    if (file.size() >= 2 && file.front() == L'"' && file.back() == L'"')
        file = file.substr(1, file.size() - 2);
    if (file.empty())
        return false;
    DWORD size = SearchPathW(nullptr, file.c_str(), L".dll", 0, nullptr, nullptr);
    if (size == 0)
        return false;
    std::wstring found(size, L'\0');
    DWORD used = SearchPathW(nullptr, file.c_str(), L".dll", size, &found[0], nullptr);
    if (used == 0 || used >= size)
        return false;
    DWORD attributes = GetFileAttributesW(found.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The class that HKCR\<interfacePath>\ProxyStubClsid32 names, if it names one.
bool NamedProxyClass(const std::wstring &interfacePath, CLSID &named)
{
    std::wstring text;
    DWORD type = 0;
    return ReadText(interfacePath + L"\\ProxyStubClsid32", nullptr, text, type) && text.size() == 38 &&
           SUCCEEDED(IIDFromString(text.c_str(), &named)) && !IsEqualGUID(named, GUID_NULL);
}

LONG SetText(HKEY key, const wchar_t *name, const std::wstring &text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// Creates parent\name with text as its default value.
LONG SetSubkeyText(HKEY parent, const wchar_t *name, const std::wstring &text)
{
    Key key;
    LONG rc = key.Create(parent, name);
    return rc == ERROR_SUCCESS ? SetText(key.get(), nullptr, text) : rc;
}

// Removes HKCR\path with everything below it; a missing key is no failure.
LONG DeleteTree(const std::wstring &path)
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
    return RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), kView, 0);
}

// Full path of this DLL, found through the address of one of its objects.
std::wstring ModulePath()
{
    static const char anchor = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&anchor), &module))
        return std::wstring();
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::wstring path(size, L'\0');
        DWORD used = GetModuleFileNameW(module, &path[0], size);
        if (used == 0)
            return std::wstring();
        if (used < size) {
            path.resize(used);
            return path;
        }
    }
    return std::wstring();
}

LONG WriteClass(const std::wstring &classText, const std::wstring &module)
{
    Key cls;
    LONG rc = cls.Create(HKEY_CLASSES_ROOT, L"CLSID\\" + classText);
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

LONG WriteInterface(const std::wstring &path, const ZqPsInterface &itf, const std::wstring &classText)
{
    Key key;
    LONG rc = key.Create(HKEY_CLASSES_ROOT, path);
    if (rc == ERROR_SUCCESS && itf.name != nullptr)
        rc = SetText(key.get(), nullptr, std::wstring(itf.name, itf.name + strlen(itf.name)));  // ASCII
    if (rc == ERROR_SUCCESS)
        rc = SetSubkeyText(key.get(), L"NumMethods", std::to_wstring(itf.methods));
    if (rc == ERROR_SUCCESS)
        rc = SetSubkeyText(key.get(), L"ProxyStubClsid32", classText);
    return rc;
}

std::wstring InterfacePath(const ZqPsInterface &itf)
{
    return L"Interface\\" + GuidText(*itf.iid);
}

HRESULT Register()
{
    const CLSID &ours = *ZqPsFactoryClsid();
    const std::wstring classText = GuidText(ours);
    const std::wstring module = ModulePath();
    // The class goes first, so that no interface ever names a class that is
    // not registered.
    if (module.empty() || WriteClass(classText, module) != ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    LONG failed = ERROR_SUCCESS;
    ZqPsInterface itf{};
    for (unsigned long i = 0; ZqPsInterfaceAt(i, &itf); ++i) {
        const std::wstring path = InterfacePath(itf);
        CLSID named{};
        if (NamedProxyClass(path, named) && !IsEqualCLSID(named, ours) && ClassFileExists(named))
            continue;  // another proxy/stub serves this interface
        LONG rc = WriteInterface(path, itf, classText);
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
        const std::wstring path = InterfacePath(itf);
        CLSID named{};
        if (!NamedProxyClass(path, named) || !IsEqualCLSID(named, ours))
            continue;  // not ours: another proxy/stub's, or not registered
        LONG rc = DeleteTree(path);
        if (failed == ERROR_SUCCESS)
            failed = rc;
    }
    // The class stays while an interface still names it.
    if (failed != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(failed);
    return DeleteTree(L"CLSID\\" + GuidText(ours)) == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

} // namespace
} // namespace zq

STDAPI DllRegisterServer()
{
    return zq::Guarded([] { return zq::Register(); });
}

STDAPI DllUnregisterServer()
{
    return zq::Guarded([] { return zq::Unregister(); });
}
