#include "server_process.h"

#include <tlhelp32.h>

#include <string>

namespace xclient {

namespace {

std::wstring GuidText(REFCLSID clsid)
{
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

}  // namespace

HRESULT RegisterServer(REFCLSID clsid, const wchar_t *arguments)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return E_FAIL;
    std::wstring command(path);
    command.erase(command.find_last_of(L'\\') + 1);
    command = L"\"" + command + xproc::kServerExe + L"\"";
    if (arguments)
        command += std::wstring(L" ") + arguments;

    std::wstring key = L"CLSID\\" + GuidText(clsid) + L"\\LocalServer32";
    HKEY hkey = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &hkey, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT UnregisterServer(REFCLSID clsid)
{
    HKEY classes = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS, &classes);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = RegDeleteTreeW(classes, GuidText(clsid).c_str());
    RegCloseKey(classes);
    return HRESULT_FROM_WIN32(rc);
}

std::vector<DWORD> ServerProcesses()
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, xproc::kServerExe) == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

bool WaitForNoServer(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (ServerProcesses().empty())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
}

}  // namespace xclient
