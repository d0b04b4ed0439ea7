// What the client programs of the cross-process benchmarks that start
// processes share: their own path, the LocalServer32 registration of the
// library server, and finding a process by its program name.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <string>

namespace zqbench {

inline std::wstring GuidText(REFCLSID clsid)
{
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

inline std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(path, n);
}

// HKCR\CLSID\{clsid}\LocalServer32 = command (a quoted path and arguments),
// in the 32-bit registry view unless another is asked for (0: the caller's
// own, which is the one COM reads for the caller's activations).
inline bool RegisterLocalServer(REFCLSID clsid, const std::wstring &command,
                                REGSAM view = KEY_WOW64_32KEY)
{
    std::wstring key = L"CLSID\\" + GuidText(clsid) + L"\\LocalServer32";
    HKEY hkey = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE | view,
                        nullptr, &hkey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(hkey, nullptr, 0, REG_SZ,
                             reinterpret_cast<const BYTE *>(command.c_str()),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS;
}

// The id of a running process with that program name (0: none).
inline DWORD FindProcess(const std::wstring &exeName)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W e{};
    e.dwSize = sizeof e;
    DWORD pid = 0;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
        if (_wcsicmp(e.szExeFile, exeName.c_str()) == 0)
            pid = e.th32ProcessID;
    }
    CloseHandle(snap);
    return pid;
}

} // namespace zqbench
