// The class factory and the per-client `HDAServer`: creation, the
// QueryInterface table with its traces, reference forwarding, leaving the
// client list and destruction by the worker thread.
#include "com_fixture.h"

#include <mutex>
#include <thread>
#include <vector>

#include "runtime/server_state.h"
#include "runtime/client_worker.h"

using namespace zqtest;

namespace {

std::mutex g_mutex;
std::vector<long> g_disconnects;
void __stdcall OnDisconnect(long remaining)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_disconnects.push_back(remaining);
}

class ServerObject : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_disconnects.clear();
        EnableHDADisconnectNotification(OnDisconnect);
    }
    void TearDown() override
    {
        EnableHDADisconnectNotification(nullptr);
        EXPECT_TRUE(AllServersDestroyed());
        EXPECT_EQ(NumbrHDAClientConnections(), 0);
    }
};

} // namespace

TEST_F(ServerObject, CreationTracesTheFirstReferenceAndJoinsTheClientList)
{
    TraceCapture cap;
    IUnknown *unk = nullptr;
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    EXPECT_TRUE(cap.Contains("HDAServer::QueryInterface IID_IUnknown"));
    EXPECT_TRUE(cap.Contains("HDAServer::AddRef(1)"));
    EXPECT_EQ(NumbrHDAClientConnections(), 1);

    cap.Clear();
    EXPECT_EQ(unk->Release(), 0u);
    EXPECT_TRUE(cap.Contains("HDAServer::Release(1)"));
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_EQ(g_disconnects, std::vector<long>{0});
}

TEST_F(ServerObject, IdleClientsObjectIsDestroyedAfterItsLastReleaseWithoutATick)
{
    IUnknown *unk = nullptr;
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    // Once the worker has run its first step it sleeps: the client has no
    // transactions, so no tick wakes it.
    auto *server = static_cast<zq::HDAServer *>(unk);
    for (int i = 0; i < 300 && server->TickSteps() == 0; ++i)
        Sleep(10);
    ASSERT_GE(server->TickSteps(), 1);
    EXPECT_FALSE(server->Worker().TakesPartInTick());
    unk->Release();
    // The tick thread never fires here (very long period); the last Release
    // wakes the worker, which destroys the object.
    for (int i = 0; i < 300 && zq::HDAServer::LiveObjects() != 0; ++i)
        Sleep(10);
    EXPECT_EQ(zq::HDAServer::LiveObjects(), 0);
}

TEST_F(ServerObject, RefusedInterfaceLeavesNothingBehind)
{
    TraceCapture cap;
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(CreateServer(IID_IOPCHDA_Browser, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    // The browser is not in the table and has no name suffix.
    EXPECT_TRUE(cap.Contains("HDAServer::QueryInterface"));
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_EQ(zq::HDAServer::LiveObjects(), 0);
    EXPECT_TRUE(g_disconnects.empty());
}

TEST_F(ServerObject, QueryInterfaceTableAndTraces)
{
    IUnknown *unk = nullptr;
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    TraceCapture cap;

    IOPCCommon *c1 = nullptr, *c2 = nullptr;
    ASSERT_EQ(unk->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&c1)), S_OK);
    ASSERT_EQ(unk->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&c2)), S_OK);
    EXPECT_EQ(c1, c2) << "one interface object per interface";
    EXPECT_EQ(cap.Count("HDAServer::QueryInterface IID_IOPCCommon"), 2);
    EXPECT_TRUE(cap.Contains("HDAServer::AddRef(3)"));

    // IUnknown through an interface object is the HDAServer itself.
    cap.Clear();
    IUnknown *back = nullptr;
    ASSERT_EQ(c1->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&back)), S_OK);
    EXPECT_EQ(back, unk);
    EXPECT_TRUE(cap.Contains("IOPCCommon::QueryInterface()  [defered to OPCServer]"));
    back->Release();

    // Interface objects forward their counts with their own traces.
    cap.Clear();
    EXPECT_EQ(c1->AddRef(), 4u);
    EXPECT_TRUE(cap.Contains("IOPCCommon::AddRef() [defered to OPCServer]"));
    EXPECT_EQ(c1->Release(), 3u);
    EXPECT_TRUE(cap.Contains("IOPCCommon::Release() [defered to OPCServer]"));

    cap.Clear();
    void *m = reinterpret_cast<void *>(1);
    EXPECT_EQ(unk->QueryInterface(IID_IMarshal, &m), E_NOINTERFACE);
    EXPECT_EQ(m, nullptr);
    EXPECT_TRUE(cap.Contains("HDAServer::QueryInterface IID_IMarshal"));
    EXPECT_EQ(unk->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
    EXPECT_TRUE(cap.Contains("HDAServer::QueryInterface E_INVALIDARG"));
    // Interfaces of the standard this server does not offer.
    EXPECT_EQ(unk->QueryInterface(IID_IOPCHDA_Playback, &m), E_NOINTERFACE);
    EXPECT_EQ(unk->QueryInterface(IID_IOPCHDA_SyncAnnotations, &m), E_NOINTERFACE);

    c1->Release();
    c2->Release();
    EXPECT_EQ(unk->Release(), 0u);
}

TEST_F(ServerObject, FactoryBasics)
{
    IClassFactory *f = nullptr;
    ASSERT_EQ(CoGetClassObject(kTestClsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void **>(&f)),
              S_OK);
    IUnknown *outer = reinterpret_cast<IUnknown *>(f);
    void *p = nullptr;
    EXPECT_EQ(f->CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(f->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
    EXPECT_EQ(f->QueryInterface(IID_IOPCCommon, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IUnknown, nullptr), E_INVALIDARG);
    EXPECT_EQ(zq::HDAServer::LiveObjects(), 0);

    LONG before = zq::State().lockCount;
    EXPECT_EQ(f->LockServer(FALSE), S_OK);
    EXPECT_EQ(zq::State().lockCount, before - 1);
    EXPECT_EQ(f->LockServer(TRUE), S_OK);
    EXPECT_EQ(zq::State().lockCount, before);
    f->Release();
}

TEST_F(ServerObject, SimultaneousFirstRequestsMakeOneInterfaceObject)
{
    for (int round = 0; round < 20; ++round) {
        IUnknown *unk = nullptr;
        ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
        constexpr int kThreads = 8;
        IUnknown *got[kThreads] = {};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&got[i]));
                for (int k = 0; k < 200; ++k) {
                    unk->AddRef();
                    unk->Release();
                }
            });
        }
        for (auto &t : threads)
            t.join();
        for (int i = 0; i < kThreads; ++i) {
            ASSERT_NE(got[i], nullptr);
            EXPECT_EQ(got[i], got[0]);
        }
        for (IUnknown *g : got)
            g->Release();
        EXPECT_EQ(unk->Release(), 0u);
    }
}

TEST_F(ServerObject, ClientsComeAndGoWhileTheTickRuns)
{
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            zq::TickWorkers();
            Sleep(1);
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < 25; ++i) {
                IUnknown *unk = nullptr;
                if (CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)) != S_OK)
                    continue;
                IConnectionPointContainer *cpc = nullptr;
                unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc));
                if (cpc != nullptr)
                    cpc->Release();
                unk->Release();
            }
            CoUninitialize();
        });
    }
    for (auto &c : clients)
        c.join();
    stop = true;
    ticker.join();
    EXPECT_EQ(g_disconnects.size(), 100u);
}
