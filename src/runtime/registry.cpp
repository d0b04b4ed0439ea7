// HDAUpdateRegistry, HDAAddLocalServiceKeysToRegistry and UnregisterHDAServer:
// the host server's class, ProgID, AppID and local-server entries under
// HKEY_CLASSES_ROOT, and its membership of the OPC HDA server category.
#include "runtime/registry.h"

#include "runtime/com_kit.h"
#include "runtime/server_state.h"

#include <comcat.h>

#include <cstdio>
#include <cstring>

namespace zq {

namespace {

// The category's description as registered with the categories manager.
constexpr wchar_t kCategoryDescription[] = L"OPC Historical Data Access Servers Version 1.0";
static_assert(sizeof kCategoryDescription <= sizeof(CATEGORYINFO::szDescription),
              "the description fits CATEGORYINFO");
constexpr LCID kCategoryLocale = 0x409;

// Creates the standard categories manager in-process; false if COM cannot
// (for example when COM is not initialised on this thread).
bool CreateCategories(ComPtr<ICatRegister> &categories)
{
    return SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                      CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                      categories.PutVoid())) &&
           categories;
}

// Length of the longest prefix of text that fits limit bytes without
// splitting a double-byte character.
size_t CutLength(const char *text, size_t limit)
{
    size_t n = 0;
    while (text[n] != '\0') {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[n])) && text[n + 1] != '\0' ? 2 : 1;
        if (n + step > limit)
            break;
        n += step;
    }
    return n;
}

// Creates name below parent with its default value set to text, and closes it.
bool WriteKey(HKEY parent, const char *name, const char *text)
{
    RegKey key;
    if (!key.Create(parent, name))
        return false;
    SetText(key.get(), nullptr, text);
    return true;
}

// [ProgID] with its description, [ProgID]\CLSID and [ProgID]\OPC.
bool WriteProgIdKeys(const char *progId, const char *description, const char *classText)
{
    RegKey progKey;
    if (!progKey.Create(HKEY_CLASSES_ROOT, progId))
        return false;
    SetText(progKey.get(), nullptr, description);
    if (!WriteKey(progKey.get(), "CLSID", classText))
        return false;
    RegKey opcKey;
    return opcKey.Create(progKey.get(), "OPC");
}

// AppID\[class text] naming the ProgID.
bool WriteAppIdKey(const char *progId, const char *classText)
{
    RegKey appIds;
    return appIds.Open(HKEY_CLASSES_ROOT, "AppID", KEY_READ) &&
           WriteKey(appIds.get(), classText, progId);
}

// CLSID\[class text] with its AppID value, LocalServer32 and ProgID.
bool WriteClassKeys(const char *progId, const char *classText, const char *serverPath)
{
    RegKey classes;
    if (!classes.Open(HKEY_CLASSES_ROOT, "CLSID", KEY_READ))
        return false;
    RegKey classKey;
    if (!classKey.Create(classes.get(), classText))
        return false;
    SetText(classKey.get(), nullptr, progId);
    SetText(classKey.get(), "AppID", classText);
    return WriteKey(classKey.get(), "LocalServer32", serverPath) &&
           WriteKey(classKey.get(), "ProgID", progId);
}

// Registers the OPC HDA category and the class as implementing it; false
// only when the categories manager cannot be created.
bool RegisterHdaCategory(const CLSID &clsid)
{
    ComPtr<ICatRegister> categories;
    if (!CreateCategories(categories))
        return false;
    CATEGORYINFO info = {};
    info.catid = IID_CATID_OPCHDAServer10;
    info.lcid = kCategoryLocale;
    std::memcpy(info.szDescription, kCategoryDescription, sizeof kCategoryDescription);
    categories->RegisterCategories(1, &info);
    CATID implemented = IID_CATID_OPCHDAServer10;
    categories->RegisterClassImplCategories(clsid, 1, &implemented);
    return true;
}

// Takes the class out of the OPC HDA category when the categories manager can
// be created; the category itself stays registered.
void UnregisterHdaCategory(const CLSID &clsid)
{
    ComPtr<ICatRegister> categories;
    if (!CreateCategories(categories))
        return;
    CATID implemented = IID_CATID_OPCHDAServer10;
    categories->UnRegisterClassImplCategories(clsid, 1, &implemented);
}

} // namespace

void FormatClassText(const CLSID &clsid, char (&text)[kClassTextSize])
{
    std::snprintf(text, kClassTextSize, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}",
                  static_cast<unsigned>(clsid.Data1), static_cast<unsigned>(clsid.Data2),
                  static_cast<unsigned>(clsid.Data3), unsigned{clsid.Data4[0]},
                  unsigned{clsid.Data4[1]}, unsigned{clsid.Data4[2]}, unsigned{clsid.Data4[3]},
                  unsigned{clsid.Data4[4]}, unsigned{clsid.Data4[5]}, unsigned{clsid.Data4[6]},
                  unsigned{clsid.Data4[7]});
    for (char &c : text) {
        if (c == ' ')
            c = '0';
    }
}

void CopyCut(const char *text, char *buffer, size_t size)
{
    if (size == 0)
        return;
    if (text == nullptr)
        text = "";
    size_t n = CutLength(text, size - 1);
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

bool IsWholePath(const char *text)
{
    const size_t n = std::strlen(text);
    if (n >= 4 && _stricmp(text + n - 4, ".exe") == 0)
        return true;
    const DWORD attributes = GetFileAttributesA(text);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void FormatServerPath(const char *path, char *buffer, size_t size)
{
    if (path == nullptr)
        path = "";
    // Anything else (a program with arguments, a quoted path) is the host's
    // command line and stays exactly as given.
    bool quote = path[0] != '"' && std::strchr(path, ' ') != nullptr && IsWholePath(path);
    if (!quote || size < 3) {
        CopyCut(path, buffer, size);
        return;
    }
    // Room for both quotes and the terminating zero.
    size_t n = CutLength(path, size - 3);
    buffer[0] = '"';
    std::memcpy(buffer + 1, path, n);
    buffer[n + 1] = '"';
    buffer[n + 2] = '\0';
}

bool IsUsableProgId(const char *progId)
{
    return progId != nullptr && progId[0] != '\0' && std::strchr(progId, '\\') == nullptr;
}

bool RegKey::Create(HKEY parent, const char *name)
{
    Close();
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

bool RegKey::Open(HKEY parent, const char *name, REGSAM access)
{
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, access, &key) != ERROR_SUCCESS)
        return false;
    key_ = key;
    return true;
}

void RegKey::Close()
{
    if (key_ != nullptr) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

bool SetText(HKEY key, const char *valueName, const char *text)
{
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

int WriteRegistration(CLSID clsid, const char *progId, const char *description,
                      const char *serverPath)
{
    SetServerClsid(clsid);
    // An empty ProgID would put the server's values on HKEY_CLASSES_ROOT itself.
    if (!IsUsableProgId(progId))
        return 0;

    char classText[kClassTextSize];
    FormatClassText(clsid, classText);
    char prog[kRegistryTextSize];
    CopyCut(progId, prog, sizeof prog);
    char desc[kRegistryTextSize];
    CopyCut(description, desc, sizeof desc);
    char path[kServerPathSize];
    FormatServerPath(serverPath, path, sizeof path);

    // Entries written before a failure stay: there is no rollback.
    if (!WriteProgIdKeys(prog, desc, classText) || !WriteAppIdKey(prog, classText) ||
        !WriteClassKeys(prog, classText, path))
        return 0;
    return RegisterHdaCategory(clsid) ? 1 : 0;
}

int WriteServiceKeys(const char *serviceName)
{
    char classText[kClassTextSize];
    FormatClassText(ServerClsid(), classText);
    char service[kRegistryTextSize];
    CopyCut(serviceName, service, sizeof service);

    // Works only on an AppID key that HDAUpdateRegistry has made.
    RegKey appIds;
    if (!appIds.Open(HKEY_CLASSES_ROOT, "AppID", KEY_ALL_ACCESS))
        return 0;
    RegKey appId;
    if (!appId.Open(appIds.get(), classText, KEY_ALL_ACCESS))
        return 0;
    bool serviceWritten = SetText(appId.get(), "LocalService", service);
    bool parametersWritten = SetText(appId.get(), "ServiceParameters", "-Service");
    return serviceWritten && parametersWritten ? 1 : 0;
}

int RemoveRegistration(CLSID clsid, const char *progId)
{
    // An empty ProgID would make the deletions below address the root.
    if (!IsUsableProgId(progId))
        return 0;
    UnregisterHdaCategory(clsid);

    char classText[kClassTextSize];
    FormatClassText(clsid, classText);
    char prog[kRegistryTextSize];
    CopyCut(progId, prog, sizeof prog);

    // Deletion results are ignored: a key that keeps other subkeys stays.
    {
        RegKey progKey;
        if (!progKey.Open(HKEY_CLASSES_ROOT, prog, KEY_ALL_ACCESS))
            return 0;
        RegDeleteKeyA(progKey.get(), "CLSID");
        RegDeleteKeyA(progKey.get(), "OPC");
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, prog);

    {
        RegKey classes;
        if (!classes.Open(HKEY_CLASSES_ROOT, "CLSID", KEY_READ))
            return 0;
        {
            RegKey classKey;
            if (!classKey.Open(classes.get(), classText, KEY_ALL_ACCESS))
                return 0;
            RegDeleteKeyA(classKey.get(), "LocalServer32");
            RegDeleteKeyA(classKey.get(), "ProgID");
            // The categories manager leaves its "Implemented Categories" key
            // behind, empty, when it takes the class out of the HDA category;
            // it would keep the class key (ProgID and AppID values included)
            // alive. Removed only when empty: categories the host added
            // itself stay, and with them the class key.
            RegDeleteKeyA(classKey.get(), "Implemented Categories");
        }
        // The class key goes with its values (the AppID value among them).
        RegDeleteKeyA(classes.get(), classText);
    }

    RegKey appIds;
    if (!appIds.Open(HKEY_CLASSES_ROOT, "AppID", KEY_READ))
        return 0;
    {
        RegKey appId;
        if (!appId.Open(appIds.get(), classText, KEY_ALL_ACCESS))
            return 0;
    }
    // Its LocalService and ServiceParameters values go with it.
    RegDeleteKeyA(appIds.get(), classText);
    return 1;
}

} // namespace zq
