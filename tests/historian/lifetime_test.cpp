// ZqHistorian.exe as a process: what it loads at start (CSV folder, journal
// replay), and when it ends: started by COM with no client, on its stop
// event, and after its last COM client leaves.
#include "historian_fixture.h"

#include <objbase.h>

#include <mutex>
#include <thread>

#include "historian_identity.h"
#include "historian_client.h"
#include "journal.h"
#include "opccomn.h"
#include "process_runner.h"

using namespace htest;

namespace {

// A server process running beside the test, with its output collected.
class ServerProcess
{
public:
    explicit ServerProcess(const std::string &arguments)
    {
        if (!zqtest::StartProcess("ZqHistorian.exe " + arguments, &info_, &read_))
            return;
        reader_ = std::thread([this] {
            char buffer[1024];
            DWORD n = 0;
            while (ReadFile(read_, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                output_.append(buffer, n);
            }
        });
    }
    ~ServerProcess()
    {
        if (info_.hProcess != nullptr) {
            if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0)
                TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
            CloseHandle(info_.hProcess);
            CloseHandle(info_.hThread);
        }
        if (reader_.joinable())
            reader_.join();
        if (read_ != nullptr)
            CloseHandle(read_);
    }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool Started() const { return info_.hProcess != nullptr; }
    // The exit code, or -1 if it is still running after timeoutMs.
    long WaitForExit(DWORD timeoutMs)
    {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }
    // Waits until the output holds text; false after timeoutMs.
    bool WaitForOutput(const std::string &text, DWORD timeoutMs)
    {
        for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
            if (Output().find(text) != std::string::npos)
                return true;
            Sleep(50);
        }
        return false;
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }

private:
    PROCESS_INFORMATION info_{};
    HANDLE read_ = nullptr;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
};

std::string Quoted(const std::string &path) { return "\"" + path + "\""; }

// The journal record of a value 1.5 at 30 s for an item.
historian::JournalRecord ValueAt30(const std::string &item)
{
    historian::JournalRecord set;
    set.item = item;
    set.time = Sec(30);
    set.quality = 0xC0;
    set.value = historian::Value(1.5);
    return set;
}

TEST(HistorianProcess, StartedByComWithoutAClientEndsAfterTheGracePeriod)
{
    TempFolder folder;
    zqtest::ProcessResult r = zqtest::RunProcess(
        "ZqHistorian.exe -Embedding --grace 1 --days 1 --journal " + Quoted(folder.File("j")),
        60000);
    ASSERT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("generated 23 items over 1 days"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("no client connected"), std::string::npos) << r.output;
}

TEST(HistorianProcess, LoadsCsvAndReplaysTheJournalDroppingATornTail)
{
    TempFolder folder;
    folder.Write("Site.Flow.csv", "2024-03-01T00:00:00Z,1\n2024-03-01T00:01:00Z,2\n");
    historian::JournalRecord set = ValueAt30("Site.Flow");
    historian::JournalRecord stranger = ValueAt30("Site.Gone");
    std::string torn = historian::EncodeRecord(set);
    folder.Write("ZqHistorian.journal", historian::kJournalHeader + historian::EncodeRecord(set) +
                                            historian::EncodeRecord(stranger) +
                                            torn.substr(0, torn.size() / 2));
    zqtest::ProcessResult r = zqtest::RunProcess(
        "ZqHistorian.exe -Embedding --grace 1 --data " + Quoted(folder.Path()), 60000);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("loaded 1 items"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 updates replayed, 1 for items this history lacks skipped, an "
                            "incomplete last record"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("3 samples in 1 items"), std::string::npos) << r.output;

    folder.Write("Site.Broken.csv", "nonsense\nmore nonsense\n");
    r = zqtest::RunProcess("ZqHistorian.exe -Embedding --grace 1 --data " + Quoted(folder.Path()),
                           60000);
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("Site.Broken.csv, line 2"), std::string::npos) << r.output;
}

TEST(HistorianProcess, AForeignJournalIsRefusedButTheServerStarts)
{
    TempFolder folder;
    folder.Write("j", "this is not a journal");
    zqtest::ProcessResult r = zqtest::RunProcess(
        "ZqHistorian.exe -Embedding --grace 1 --days 1 --journal " + Quoted(folder.File("j")),
        60000);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("journal refused, no updates accepted: not a historian journal"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("no client connected"), std::string::npos) << r.output;
    EXPECT_EQ(folder.Read("j"), "this is not a journal");
}

// A journal damaged in the middle: COM still starts the server, its status
// says it is down and why, it serves what was sound and refuses updates, and
// the journal stays as it was.
TEST(HistorianProcess, ARefusedJournalIsVisibleToClients)
{
    TempFolder folder;
    folder.Write("Site.Flow.csv", "2024-03-01T00:00:00Z,1\n2024-03-01T00:01:00Z,2\n");
    historian::JournalRecord set = ValueAt30("Site.Flow");
    std::string damaged = historian::EncodeRecord(set);
    damaged[2] ^= 0x01; // a bit of the size field
    const std::string bytes = historian::kJournalHeader + historian::EncodeRecord(set) + damaged +
                              historian::EncodeRecord(set);
    folder.Write("j", bytes);
    const std::string event = "ZqHistorianTest.Refused." + std::to_string(GetCurrentProcessId());
    zqtest::ProcessResult r = zqtest::RunProcess(
        "ZqHistorian.exe /RegServer --grace 30 --stop-event " + event + " --data " +
            Quoted(folder.Path()) + " --journal " + Quoted(folder.File("j")),
        60000);
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IOPCHDA_Server *server = nullptr;
    EXPECT_EQ(CoCreateInstance(historian::kHistorianClsid, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IOPCHDA_Server, reinterpret_cast<void **>(&server)),
              S_OK);
    if (server != nullptr) {
        OPCHDA_SERVERSTATUS status = OPCHDA_UP;
        FILETIME *now = nullptr, *started = nullptr;
        WORD major = 0, minor = 0, build = 0;
        DWORD maxValues = 0;
        LPWSTR text = nullptr, vendor = nullptr;
        EXPECT_EQ(server->GetHistorianStatus(&status, &now, &started, &major, &minor, &build,
                                             &maxValues, &text, &vendor),
                  S_OK);
        EXPECT_EQ(status, OPCHDA_DOWN);
        std::wstring why = text != nullptr ? text : L"";
        EXPECT_NE(why.find(L"journal refused, no updates accepted: damaged record header"),
                  std::wstring::npos);
        for (void *p : {static_cast<void *>(now), static_cast<void *>(started),
                        static_cast<void *>(text), static_cast<void *>(vendor)})
            CoTaskMemFree(p);

        OPCHANDLE handle = ItemHandle(server, L"Site.Flow", 1);
        EXPECT_EQ(RawTimes(server, handle, Sec(0), Sec(600)),
                  (std::vector<uint64_t>{Sec(0), Sec(30), Sec(60)}))
            << "the sound record before the damage is replayed";
        IOPCHDA_SyncUpdate *update = nullptr;
        server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void **>(&update));
        HRESULT *errors = nullptr;
        if (update != nullptr && handle != 0) {
            FILETIME at = historian::ToFileTime(Sec(90));
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_R8;
            v.dblVal = 9;
            DWORD quality = 0xC0;
            EXPECT_EQ(update->Insert(1, &handle, &at, &v, &quality, &errors), S_FALSE);
            if (errors != nullptr) {
                EXPECT_EQ(errors[0], E_FAIL) << "updates are refused";
            }
            CoTaskMemFree(errors);
        }
        if (update != nullptr)
            update->Release();
        server->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    // Stop the server and wait until it is gone (its stop event with it).
    HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, event.c_str());
    if (stop != nullptr) {
        SetEvent(stop);
        CloseHandle(stop);
    }
    for (int i = 0; i < 300; ++i) {
        HANDLE exists = OpenEventA(SYNCHRONIZE, FALSE, event.c_str());
        if (exists == nullptr)
            break;
        CloseHandle(exists);
        Sleep(100);
    }
    zqtest::RunProcess("ZqHistorian.exe /UnregServer", 60000);
    EXPECT_EQ(folder.Read("j"), bytes) << "the damaged journal is left as it was";
}

TEST(HistorianProcess, TheStopEventEndsIt)
{
    TempFolder folder;
    const std::string event = "ZqHistorianTest.Stop." + std::to_string(GetCurrentProcessId());
    ServerProcess server("--stay --days 1 --stop-event " + event + " --journal " +
                         Quoted(folder.File("j")));
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(server.WaitForOutput("serving", 30000)) << server.Output();
    HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, event.c_str());
    ASSERT_NE(stop, nullptr);
    SetEvent(stop);
    CloseHandle(stop);
    EXPECT_EQ(server.WaitForExit(30000), 0) << server.Output();
    EXPECT_NE(server.Output().find("stopping: stop requested"), std::string::npos)
        << server.Output();
}

// COM starts the registered server for a client and it ends when the client
// has let go. The journal given at registration tells: it is held open
// exactly as long as the server runs.
TEST(HistorianProcess, StartedByComItEndsWhenItsLastClientLeaves)
{
    TempFolder folder;
    const std::string journal = folder.File("com.journal");
    zqtest::ProcessResult r =
        zqtest::RunProcess("ZqHistorian.exe /RegServer --days 1 --journal " + Quoted(journal), 60000);
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IOPCCommon *common = nullptr;
    HRESULT hr = CoCreateInstance(historian::kHistorianClsid, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IOPCCommon, reinterpret_cast<void **>(&common));
    EXPECT_EQ(hr, S_OK);
    if (common != nullptr) {
        EXPECT_TRUE(HeldOpen(journal));
        EXPECT_EQ(common->SetClientName(L"historian lifetime test"), S_OK);
        common->Release();
        EXPECT_TRUE(WaitUntilClosed(journal, 30000))
            << "the server still runs 30 s after its client left";
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    zqtest::RunProcess("ZqHistorian.exe /UnregServer", 60000);
    // Let the server process finish its exit before the folder goes.
    Sleep(500);
}

} // namespace
