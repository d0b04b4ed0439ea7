#include "e2e_fixture.h"

#include <tlhelp32.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "historian_identity.h"
#include "process_runner.h"

namespace e2e {

namespace {

uint64_t Year2026()
{
    SYSTEMTIME st{};
    st.wYear = 2026;
    st.wMonth = 1;
    st.wDay = 1;
    FILETIME f;
    SystemTimeToFileTime(&st, &f);
    return Ticks(f);
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// The data folder and the registration, once per program.
class HistorianEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        const std::string folder = zqtest::ProgramDirectory() + "e2e-data";
        CreateDirectoryA(folder.c_str(), nullptr);
        std::string flow = "time,value,quality\n";
        for (int i = 0; i < 60; ++i)
            flow += Iso(At(i * 10)) + "," + std::to_string(i) + "\n";
        WriteFile(folder + "\\Plant.Line1.Flow.csv", flow);
        std::string level = "#@Stepped=true\n";
        for (int i = 0; i < 5; ++i)
            level += Iso(At(i * 60)) + "," + std::to_string((i + 1) * 10) + "\n";
        WriteFile(folder + "\\Plant.Line1.Level.csv", level);
        WriteFile(folder + "\\Plant.Line2.Temp.csv",
                  "#@Description=Reactor temperature\n#@Eng Units=degC\n" + Iso(At(0)) +
                      ",20.5\n" + Iso(At(300)) + ",21.5\n" + Iso(At(600)) + ",22.5\n");
        const std::string journal = folder + "\\e2e.journal";
        DeleteFileA(journal.c_str());

        const std::string options = " /RegServer --data \"" + folder + "\" --journal \"" + journal +
                                    "\" --tick 20 --grace 30";
        // A cross-architecture run registers both historians side by side,
        // as an installer of both would.
        for (const std::string &program : Historians()) {
            auto r = zqtest::RunProcess(program + options, 60000);
            ASSERT_TRUE(r.started && !r.timedOut && r.exitCode == 0) << program << ": " << r.output;
        }
        // Each registration went to the registry view of its own bitness,
        // and COM reads LocalServer32 from the client's view: the installer
        // of a server for clients of both bitnesses names the one server in
        // both views. Here the client's view names the other build's.
        if (!OtherArchitectureBin().empty()) {
            ASSERT_TRUE(NameServerForThisView(OtherArchitectureBin() + "\\ZqHistorian.exe"));
        }
    }

    static bool NameServerForThisView(const std::string &program)
    {
        wchar_t clsid[40];
        StringFromGUID2(historian::kHistorianClsid, clsid, 40);
        std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\LocalServer32";
        std::wstring value = L"\"" + std::wstring(program.begin(), program.end()) + L"\"";
        HKEY hkey = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hkey,
                            nullptr) != ERROR_SUCCESS)
            return false;
        LONG rc = RegSetValueExW(hkey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(hkey);
        return rc == ERROR_SUCCESS;
    }

    void TearDown() override
    {
        StopHistorian();
        HistorianGone(15000);
        for (const std::string &program : Historians())
            zqtest::RunProcess(program + " /UnregServer", 60000);
        CoUninitialize();
    }

    static std::vector<std::string> Historians()
    {
        std::vector<std::string> programs{"ZqHistorian.exe"};
        if (!OtherArchitectureBin().empty())
            programs.push_back("\"" + OtherArchitectureBin() + "\\ZqHistorian.exe\"");
        return programs;
    }
};

const auto *const g_env = ::testing::AddGlobalTestEnvironment(new HistorianEnvironment);

} // namespace

const uint64_t kT0 = Year2026();

std::string OtherArchitectureBin()
{
    char dir[MAX_PATH] = "";
    DWORD n = GetEnvironmentVariableA("ZQ_E2E_HISTORIAN_DIR", dir, sizeof dir);
    return n > 0 && n < sizeof dir ? std::string(dir) : std::string();
}

DWORD ServerContext()
{
    if (OtherArchitectureBin().empty())
        return CLSCTX_LOCAL_SERVER;
    return CLSCTX_LOCAL_SERVER |
           (sizeof(void *) == 8 ? CLSCTX_ACTIVATE_32_BIT_SERVER : CLSCTX_ACTIVATE_64_BIT_SERVER);
}

std::string Iso(uint64_t t)
{
    FILETIME f = Ft(t);
    SYSTEMTIME st;
    FileTimeToSystemTime(&f, &st);
    char text[40];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond);
    return text;
}

zqtest::ProcessResult Zqhda(const std::string &arguments)
{
    zqtest::ProcessResult r;
    for (int attempt = 0; attempt < 50; ++attempt) {
        r = zqtest::RunProcess("zqhda.exe --server ZqHDA.Historian.1 " + arguments, 60000, true);
        bool ending = r.errors.find("the server object could not be created") != std::string::npos &&
                      (r.errors.find("RPC_S_") != std::string::npos ||
                       r.errors.find("RPC_E_DISCONNECTED") != std::string::npos ||
                       r.errors.find("CO_E_SERVER_STOPPING") != std::string::npos);
        if (!ending)
            break;
        Sleep(200);
    }
    return r;
}


OPCHDA_TIME Relative(const wchar_t *text)
{
    size_t n = wcslen(text) + 1;
    auto *copy = static_cast<wchar_t *>(CoTaskMemAlloc(n * sizeof(wchar_t)));
    memcpy(copy, text, n * sizeof(wchar_t));
    return OPCHDA_TIME{TRUE, copy, FILETIME{}};
}

void FreeTime(OPCHDA_TIME &t)
{
    CoTaskMemFree(t.szTime);
    t.szTime = nullptr;
}

Client::Client()
{
    // A historian that is just ending after its last client left can still
    // be handed out by COM for a moment; a client then tries again, as real
    // clients do.
    for (int attempt = 0; attempt < 50; ++attempt) {
        created = CoCreateInstance(historian::kHistorianClsid, nullptr, ServerContext(),
                                   IID_IOPCHDA_Server, reinterpret_cast<void **>(&server));
        if (created != RPC_E_DISCONNECTED && created != CO_E_SERVER_STOPPING &&
            created != HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) &&
            created != HRESULT_FROM_WIN32(RPC_S_CALL_FAILED))
            break;
        Sleep(100);
    }
    if (FAILED(created))
        return;
    server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common));
    server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read));
    server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void **>(&update));
}

Client::~Client()
{
    for (IUnknown *p : std::initializer_list<IUnknown *>{update, read, common, server}) {
        if (p != nullptr)
            p->Release();
    }
}

std::vector<OPCHANDLE> Client::Handles(const std::vector<const wchar_t *> &ids)
{
    std::vector<LPWSTR> names;
    std::vector<OPCHANDLE> clients;
    for (size_t i = 0; i < ids.size(); ++i) {
        names.push_back(const_cast<LPWSTR>(ids[i]));
        clients.push_back(static_cast<OPCHANDLE>(i + 1));
    }
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = server->GetItemHandles(static_cast<DWORD>(ids.size()), names.data(),
                                        clients.data(), &handles, &errors);
    std::vector<OPCHANDLE> out;
    EXPECT_EQ(hr, S_OK);
    for (size_t i = 0; SUCCEEDED(hr) && i < ids.size(); ++i) {
        EXPECT_EQ(errors[i], S_OK);
        out.push_back(handles[i]);
    }
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    return out;
}

std::string Client::ErrorText(HRESULT code)
{
    LPWSTR text = nullptr;
    if (common == nullptr || FAILED(common->GetErrorString(code, &text)))
        return std::string();
    std::string s;
    for (const wchar_t *p = text; *p != 0; ++p)
        s += static_cast<char>(*p < 128 ? *p : '?');
    CoTaskMemFree(text);
    return s;
}

HRESULT ReadRaw(Client &c, OPCHANDLE h, OPCHDA_TIME start, OPCHDA_TIME end, DWORD max, BOOL bounds,
                Values *out)
{
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = c.read->ReadRaw(&start, &end, max, bounds, 1, &h, &items, &errors);
    if (FAILED(hr))
        return hr;
    HRESULT item = errors[0];
    *out = Copy(items[0]);
    FreeItems(items, 1);
    CoTaskMemFree(errors);
    return item;
}

Values Copy(const OPCHDA_ITEM &item)
{
    Values v;
    for (DWORD i = 0; i < item.dwCount; ++i) {
        v.times.push_back(Ticks(item.pftTimeStamps[i]));
        v.qualities.push_back(item.pdwQualities[i]);
        VARIANT d;
        VariantInit(&d);
        double n = std::nan("");
        if (SUCCEEDED(VariantChangeType(&d, &item.pvDataValues[i], 0, VT_R8)))
            n = d.dblVal;
        v.numbers.push_back(n);
        VariantClear(&d);
    }
    return v;
}

void FreeItems(OPCHDA_ITEM *items, DWORD count)
{
    for (DWORD i = 0; items != nullptr && i < count; ++i) {
        for (DWORD k = 0; items[i].pvDataValues != nullptr && k < items[i].dwCount; ++k)
            VariantClear(&items[i].pvDataValues[k]);
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
    }
    CoTaskMemFree(items);
}

namespace {
std::vector<DWORD> ProcessesNamed(const char *exe)
{
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
        if (lstrcmpiA(pe.szExeFile, exe) == 0)
            pids.push_back(pe.th32ProcessID);
    }
    CloseHandle(snap);
    return pids;
}
} // namespace

DWORD HistorianProcess()
{
    std::vector<DWORD> pids = ProcessesNamed("ZqHistorian.exe");
    return pids.empty() ? 0 : pids.front();
}

void KillProcessesNamed(const char *exe)
{
    for (DWORD pid : ProcessesNamed(exe)) {
        HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (p == nullptr)
            continue;
        TerminateProcess(p, 1);
        WaitForSingleObject(p, 10000);
        CloseHandle(p);
    }
}

bool HistorianGone(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (HistorianProcess() != 0) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(50);
    }
    return true;
}

void StopHistorian()
{
    HANDLE ev = OpenEventA(EVENT_MODIFY_STATE, FALSE, "ZqHDA.Historian.1.Stop");
    if (ev != nullptr) {
        SetEvent(ev);
        CloseHandle(ev);
    }
}

} // namespace e2e
