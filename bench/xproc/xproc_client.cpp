// Benchmark 4: ReadRaw of kValues values across processes, from a server
// built on ZqHDAsvr.dll against a bare server on the same generated
// interfaces; values per second of each, and their ratio. Both servers are
// registered as LocalServer32 for the run and started by COM.
//   xproc_bench.exe [--quick] [--servers DIR]
// --servers: the servers of another build's bin folder DIR (a Windows path),
// for a client of one bitness against servers of the other.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_util.h"
#include "opchda.h"
#include "xproc_bench.h"

using namespace zqbench;

namespace {

std::wstring GuidText(REFCLSID clsid)
{
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    return text;
}

// The folder of the servers: --servers DIR, or this program's own.
std::wstring g_serverDir;

bool FindServerDir(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--servers") == 0) {
            std::string dir(argv[i + 1]);
            g_serverDir.assign(dir.begin(), dir.end());
            g_serverDir += L"\\";
            return true;
        }
    }
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return false;
    g_serverDir = path;
    g_serverDir.erase(g_serverDir.find_last_of(L'\\') + 1);
    return true;
}

// HKCR\CLSID\{clsid}\LocalServer32 = the quoted path of exe in the server folder.
bool Register(REFCLSID clsid, const wchar_t *exe)
{
    std::wstring command = L"\"" + g_serverDir + exe + L"\"";
    std::wstring key = L"CLSID\\" + GuidText(clsid) + L"\\LocalServer32";
    HKEY hkey = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &hkey, nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS;
}

void Unregister(REFCLSID clsid)
{
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS, &classes) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(classes, GuidText(clsid).c_str());
        RegCloseKey(classes);
    }
}

struct Connection
{
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    OPCHANDLE handle = 0;

    bool Open(REFCLSID clsid)
    {
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server,
                                    reinterpret_cast<void **>(&server))))
            return false;
        if (FAILED(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read))))
            return false;
        return BenchItemHandle(server, &handle);
    }
    // One read of kValues values; false unless all of them arrived.
    bool Read()
    {
        const ULONGLONG start = 133000000000000000ULL;
        OPCHDA_TIME s{}, e{};
        s.ftTime.dwLowDateTime = static_cast<DWORD>(start);
        s.ftTime.dwHighDateTime = static_cast<DWORD>(start >> 32);
        e.ftTime.dwLowDateTime = static_cast<DWORD>(start + 10 * kValues);
        e.ftTime.dwHighDateTime = static_cast<DWORD>((start + 10 * kValues) >> 32);
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = read->ReadRaw(&s, &e, kValues, FALSE, 1, &handle, &items, &errors);
        bool ok = SUCCEEDED(hr) && items != nullptr && items[0].dwCount == static_cast<DWORD>(kValues) &&
                  items[0].pvDataValues[kValues - 1].vt == VT_R8 &&
                  items[0].pvDataValues[kValues - 1].dblVal == ValueAt(start + kValues - 1) &&
                  items[0].pdwQualities[kValues - 1] == kQuality;
        FreeReadResult(items, errors);
        return ok;
    }
    void Close()
    {
        if (read != nullptr)
            read->Release();
        if (server != nullptr)
            server->Release();
        read = nullptr;
        server = nullptr;
    }
};

} // namespace

int main(int argc, char **argv)
{
    ParseArguments(argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    int status = 0;
    if (!FindServerDir(argc, argv) || !Register(kLibraryServerClsid, kLibraryServerExe) || !Register(kBareServerClsid, kBareServerExe)) {
        std::fprintf(stderr, "the servers could not be registered\n");
        status = 2;
    }
    Connection library, bare;
    if (status == 0 && (!library.Open(kLibraryServerClsid) || !bare.Open(kBareServerClsid))) {
        std::fprintf(stderr, "a server could not be reached\n");
        status = 2;
    }
    if (status == 0) {
        bool ok = library.Read() && bare.Read(); // warm up both
        // A repetition is a batch of reads: single cross-process calls here
        // take either about 8 or about 25 ms (scheduling of the two
        // processes on two shared cores), and batches smooth that out.
        const int kBatch = 5;
        double lib = 0, base = 0;
        Interleaved(
            Repetitions(21),
            [&] {
                for (int i = 0; i < kBatch; ++i)
                    ok = library.Read() && ok;
            },
            [&] {
                for (int i = 0; i < kBatch; ++i)
                    ok = bare.Read() && ok;
            },
            &lib, &base);
        lib /= kBatch;
        base /= kBatch;
        if (!ok) {
            std::fprintf(stderr, "a read did not deliver every value\n");
            status = 1;
        }
        double libRate = kValues / lib, bareRate = kValues / base;
        Report("4 out of process", "ReadRaw 10,000 values, library server",
               Format("%.0f values/s", libRate) + " (" + PerUnit(lib) + " per read)");
        Report("4 out of process", "ReadRaw 10,000 values, bare server",
               Format("%.0f values/s", bareRate) + " (" + PerUnit(base) + " per read)");
        Report("4 out of process", "ratio library / bare", Format("%.2f", libRate / bareRate), ">= 0.8",
               Met(libRate / bareRate >= 0.8));
    }
    library.Close();
    bare.Close();
    Unregister(kLibraryServerClsid);
    Unregister(kBareServerClsid);
    CoUninitialize();
    return status;
}
