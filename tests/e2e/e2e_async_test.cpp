// Asynchronous reads, advise and updates of the sample historian with the
// client's sink in this process; shutdown requests; a client and a server
// that die.
#include "e2e_fixture.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "process_runner.h"
#include "quiet_data_callback.h"

using namespace e2e;

namespace {

// The client's sink for data callbacks and shutdown requests.
class Sink : public QuietDataCallback, public IOPCShutdown
{
public:
    struct Delivery
    {
        const char *kind;
        DWORD transaction;
        HRESULT status;
        std::vector<OPCHANDLE> clients;
        std::vector<HRESULT> codes;
        std::vector<Values> values;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCHDA_DataCallback))
            *out = static_cast<IOPCHDA_DataCallback *>(this);
        else if (IsEqualIID(iid, IID_IOPCShutdown))
            *out = static_cast<IOPCShutdown *>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD t, HRESULT s, DWORD n, OPCHDA_ITEM *v, HRESULT *e) override
    {
        return Items("data", t, s, n, v, e);
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD t, HRESULT s, DWORD n, OPCHDA_ITEM *v, HRESULT *e) override
    {
        return Items("read", t, s, n, v, e);
    }
    HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD t, HRESULT s, DWORD n, OPCHANDLE *c, HRESULT *e) override
    {
        Delivery d{"update", t, s, {c, c + n}, {e, e + n}, {}};
        Add(std::move(d));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++shutdowns_;
        reason_ = reason != nullptr ? reason : L"(null)";
        cv_.notify_all();
        return S_OK;
    }

    // Waits (at most timeoutMs) until count deliveries of the kind arrived.
    std::vector<Delivery> WaitFor(const char *kind, size_t count, DWORD timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return Of(kind).size() >= count; });
        return Of(kind);
    }
    bool WaitForShutdown(DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return shutdowns_ > 0; });
    }
    std::wstring Reason()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return reason_;
    }
    size_t Count(const char *kind)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return Of(kind).size();
    }

private:
    HRESULT Items(const char *kind, DWORD t, HRESULT s, DWORD n, OPCHDA_ITEM *v, HRESULT *e)
    {
        Delivery d{kind, t, s, {}, {e, e + n}, {}};
        for (DWORD i = 0; i < n; ++i) {
            d.clients.push_back(v[i].hClient);
            d.values.push_back(Copy(v[i]));
        }
        Add(std::move(d));
        return S_OK;
    }
    void Add(Delivery d)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        deliveries_.push_back(std::move(d));
        cv_.notify_all();
    }
    std::vector<Delivery> Of(const char *kind) const
    {
        std::vector<Delivery> out;
        for (const auto &d : deliveries_) {
            if (strcmp(d.kind, kind) == 0)
                out.push_back(d);
        }
        return out;
    }

    std::atomic<LONG> refs_{1};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<Delivery> deliveries_;
    int shutdowns_ = 0;
    std::wstring reason_;
};

// A client with its sink advised on both connection points.
class AsyncClient : public Client
{
public:
    AsyncClient()
    {
        if (!Connected())
            return;
        server->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&asyncRead));
        server->QueryInterface(IID_IOPCHDA_AsyncUpdate, reinterpret_cast<void **>(&asyncUpdate));
        IConnectionPointContainer *cpc = nullptr;
        if (FAILED(server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc))))
            return;
        cpc->FindConnectionPoint(IID_IOPCHDA_DataCallback, &dataPoint);
        cpc->FindConnectionPoint(IID_IOPCShutdown, &shutdownPoint);
        cpc->Release();
        if (dataPoint != nullptr)
            advised = dataPoint->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &dataCookie);
        if (shutdownPoint != nullptr)
            shutdownPoint->Advise(static_cast<IOPCShutdown *>(&sink), &shutdownCookie);
    }
    ~AsyncClient()
    {
        if (dataPoint != nullptr) {
            dataPoint->Unadvise(dataCookie);
            dataPoint->Release();
        }
        if (shutdownPoint != nullptr) {
            shutdownPoint->Unadvise(shutdownCookie);
            shutdownPoint->Release();
        }
        if (asyncUpdate != nullptr)
            asyncUpdate->Release();
        if (asyncRead != nullptr)
            asyncRead->Release();
    }

    Sink sink;
    IOPCHDA_AsyncRead *asyncRead = nullptr;
    IOPCHDA_AsyncUpdate *asyncUpdate = nullptr;
    IConnectionPoint *dataPoint = nullptr;
    IConnectionPoint *shutdownPoint = nullptr;
    DWORD dataCookie = 0, shutdownCookie = 0;
    HRESULT advised = E_FAIL;
};

} // namespace

TEST(EndToEndAsync, ReadRawDeliversOnTheNextTickWithRefusedItemsMarked)
{
    AsyncClient c;
    ASSERT_EQ(c.created, S_OK);
    ASSERT_EQ(c.advised, S_OK);
    OPCHANDLE h[2] = {c.Handles({kFlow})[0], 0xBAD};
    OPCHDA_TIME start = Absolute(At(0)), end = Absolute(At(60));
    DWORD cancel = 0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.asyncRead->ReadRaw(11, &start, &end, 0, FALSE, 2, h, &cancel, &errors), S_FALSE);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);

    auto reads = c.sink.WaitFor("read", 1);
    ASSERT_EQ(reads.size(), 1u);
    const auto &d = reads[0];
    EXPECT_EQ(d.transaction, 11u);
    EXPECT_EQ(d.status, S_FALSE);
    ASSERT_EQ(d.codes.size(), 2u);
    EXPECT_EQ(d.codes[0], S_OK);
    EXPECT_EQ(d.clients[0], 1u);
    ASSERT_EQ(d.values[0].numbers.size(), 7u);
    EXPECT_EQ(d.values[0].numbers[6], 6);
    EXPECT_EQ(d.codes[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(d.clients[1], 0xFFFFFFFFu);
}

TEST(EndToEndAsync, AdviseDeliversConsecutiveWindowsUntilCancelled)
{
    AsyncClient c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE h = c.Handles({kFlow})[0];
    OPCHDA_TIME start = Absolute(At(0));
    DWORD cancel = 0;
    HRESULT *errors = nullptr;
    FILETIME minute = Ft(60 * kSecond);
    ASSERT_EQ(c.asyncRead->AdviseRaw(21, &start, minute, 1, &h, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    // The history lies in the past: one window per tick.
    auto windows = c.sink.WaitFor("data", 3);
    ASSERT_GE(windows.size(), 3u);
    for (size_t w = 0; w < 3; ++w) {
        EXPECT_EQ(windows[w].transaction, 21u);
        const Values &v = windows[w].values[0];
        ASSERT_FALSE(v.times.empty()) << w;
        for (uint64_t t : v.times) {
            EXPECT_GE(t, At(60 * w));
            EXPECT_LE(t, At(60 * (w + 1)));
        }
    }
    EXPECT_EQ(c.asyncRead->Cancel(cancel), S_OK);
    // Once a window in flight has arrived, nothing more comes.
    Sleep(300);
    size_t settled = c.sink.Count("data");
    Sleep(300);
    EXPECT_EQ(c.sink.Count("data"), settled);
    EXPECT_EQ(c.asyncRead->Cancel(0x7777), S_OK) << "unknown cancel IDs are fine";
}

TEST(EndToEndAsync, InsertCompletesAndIsReadBack)
{
    AsyncClient c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE h = c.Handles({kTemp})[0];
    FILETIME t = Ft(At(450));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 23.25;
    DWORD quality = 0xC0, cancel = 0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.asyncUpdate->Insert(31, 1, &h, &t, &value, &quality, &cancel, &errors), S_OK);
    CoTaskMemFree(errors);
    auto updates = c.sink.WaitFor("update", 1);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].transaction, 31u);
    EXPECT_EQ(updates[0].codes[0], OPC_S_INSERTED);
    EXPECT_EQ(updates[0].status, S_FALSE) << "any non-zero code makes the status S_FALSE";

    FILETIME at = t;
    OPCHDA_ITEM *items = nullptr;
    ASSERT_EQ(c.read->ReadAtTime(1, &at, 1, &h, &items, &errors), S_OK);
    EXPECT_EQ(Copy(items[0]).numbers[0], 23.25);
    FreeItems(items, 1);
    CoTaskMemFree(errors);
}

TEST(EndToEndAsync, ServerAsksItsClientsToDisconnectWhenStopped)
{
    {
        AsyncClient c;
        ASSERT_EQ(c.created, S_OK);
        StopHistorian();
        ASSERT_TRUE(c.sink.WaitForShutdown(10000));
        EXPECT_EQ(c.sink.Reason(), L"");
    }
    // The client let go: the server ends.
    EXPECT_TRUE(HistorianGone(15000));
}

TEST(EndToEndAsync, ServerOutlivesAKilledClient)
{
    PROCESS_INFORMATION pi{};
    HANDLE out = nullptr;
    ASSERT_TRUE(zqtest::StartProcess("e2e_probe.exe", &pi, &out));
    char buffer[64] = {};
    DWORD n = 0;
    ReadFile(out, buffer, sizeof buffer - 1, &n, nullptr);
    EXPECT_NE(strstr(buffer, "ready"), nullptr) << buffer;
    DWORD serverPid = HistorianProcess();
    ASSERT_NE(serverPid, 0u);
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(out);

    // The dead client's advise keeps failing to deliver; others are served.
    Sleep(200);
    Client c;
    ASSERT_EQ(c.created, S_OK);
    EXPECT_EQ(HistorianProcess(), serverPid);
    OPCHANDLE h = c.Handles({kFlow})[0];
    OPCHDA_TIME start = Absolute(At(0)), end = Absolute(At(30));
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.read->ReadRaw(&start, &end, 0, FALSE, 1, &h, &items, &errors), S_OK);
    EXPECT_EQ(items[0].dwCount, 4u);
    FreeItems(items, 1);
    CoTaskMemFree(errors);
    // The dead client's object is never collected here: stop the server.
    StopHistorian();
}

TEST(EndToEndAsync, AcknowledgedInsertSurvivesAKilledServer)
{
    ASSERT_TRUE(HistorianGone(15000));
    FILETIME t = Ft(At(333));
    {
        Client c;
        ASSERT_EQ(c.created, S_OK);
        OPCHANDLE h = c.Handles({kLevel})[0];
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R8;
        value.dblVal = 77;
        DWORD quality = 0xC0;
        HRESULT *errors = nullptr;
        ASSERT_EQ(c.update->Insert(1, &h, &t, &value, &quality, &errors), S_OK);
        EXPECT_EQ(errors[0], OPC_S_INSERTED);
        CoTaskMemFree(errors);

        HANDLE server = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, HistorianProcess());
        ASSERT_NE(server, nullptr);
        TerminateProcess(server, 9);
        WaitForSingleObject(server, 10000);
        CloseHandle(server);
    }
    // Wine's COM service keeps the dead server's class registration and
    // answers every later activation with RPC_S_SERVER_UNAVAILABLE (Windows
    // notices the dead process); end the service so that it starts afresh.
    KillProcessesNamed("rpcss.exe");
    // COM starts a new server, which replays its journal.
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE h = c.Handles({kLevel})[0];
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.read->ReadAtTime(1, &t, 1, &h, &items, &errors), S_OK);
    Values v = Copy(items[0]);
    EXPECT_EQ(v.numbers[0], 77);
    EXPECT_FALSE(v.qualities[0] & OPCHDA_INTERPOLATED) << "the stored value, not an interpolation";
    FreeItems(items, 1);
    CoTaskMemFree(errors);
}
