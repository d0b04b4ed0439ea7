// The connection point container, both points, the enumerator, shutdown
// requests and what the asynchronous requests check.
#include "com_fixture.h"

#include <olectl.h>

#include "com/connection_container.h"

using namespace zqtest;

namespace {

class ConnectionPoints : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
        ASSERT_EQ(unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc)),
                  S_OK);
    }
    void TearDown() override
    {
        if (cpc != nullptr)
            cpc->Release();
        if (unk != nullptr) {
            EXPECT_EQ(unk->Release(), 0u);
        }
        EXPECT_TRUE(AllServersDestroyed());
    }
    IConnectionPoint *Point(REFIID iid)
    {
        IConnectionPoint *p = nullptr;
        EXPECT_EQ(cpc->FindConnectionPoint(iid, &p), S_OK);
        return p;
    }
    zq::HDAServer *Server() { return static_cast<zq::HDAServer *>(unk); }

    IUnknown *unk = nullptr;
    IConnectionPointContainer *cpc = nullptr;
};

} // namespace

TEST_F(ConnectionPoints, FindsBothPointsAndNothingElse)
{
    TraceCapture cap;
    IConnectionPoint *shutdown = Point(IID_IOPCShutdown);
    IConnectionPoint *data = Point(IID_IOPCHDA_DataCallback);
    ASSERT_NE(shutdown, nullptr);
    ASSERT_NE(data, nullptr);
    EXPECT_NE(shutdown, data);
    EXPECT_TRUE(cap.Contains("CIHDASvrConnectionContainer::FindConnectionPoint IID_IOPCShutdown"));

    IConnectionPoint *none = reinterpret_cast<IConnectionPoint *>(1);
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCCommon, &none), E_NOINTERFACE);
    EXPECT_TRUE(cap.Contains("CIHDASvrConnectionContainer::FindConnectionPoint E_NOINTERFACE"));
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IOPCShutdown, nullptr), E_INVALIDARG);

    IID iid{};
    EXPECT_EQ(data->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCHDA_DataCallback));
    IConnectionPointContainer *back = nullptr;
    EXPECT_EQ(data->GetConnectionPointContainer(&back), S_OK);
    EXPECT_EQ(back, cpc);
    back->Release();
    IEnumConnections *conns = nullptr;
    EXPECT_EQ(shutdown->EnumConnections(&conns), E_NOTIMPL);
    EXPECT_EQ(data->EnumConnections(&conns), E_NOTIMPL);

    // Points and container count on the server object.
    LONG refs = Server()->RefCount();
    shutdown->AddRef();
    EXPECT_EQ(Server()->RefCount(), refs + 1);
    shutdown->Release();
    shutdown->Release();
    data->Release();
}

TEST_F(ConnectionPoints, OneSinkPerPointUnderCookieOne)
{
    IConnectionPoint *p = Point(IID_IOPCShutdown);
    SinkObject sink;
    TraceCapture cap;
    DWORD cookie = 0;
    ASSERT_EQ(p->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_TRUE(cap.Contains("OPCServerConnectionPoint::Advise S_OK"));
    EXPECT_EQ(sink.refs, 2);

    SinkObject second;
    EXPECT_EQ(p->Advise(&second, &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_TRUE(cap.Contains("OPCServerConnectionPoint::Advise E_ADVISELIMIT"));
    EXPECT_EQ(second.refs, 1);

    cap.Clear();
    EXPECT_EQ(p->Unadvise(2), CONNECT_E_NOCONNECTION);
    EXPECT_TRUE(cap.Contains("OPCServerConnectionPoint::Uadvise CONNECT_E_NOCONNECTION"));
    cap.Clear();
    EXPECT_EQ(p->Unadvise(1), S_OK);
    EXPECT_TRUE(cap.Texts().empty());
    EXPECT_EQ(sink.refs, 1);
    EXPECT_EQ(p->Unadvise(1), CONNECT_E_NOCONNECTION);

    EXPECT_EQ(p->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(p->Advise(&sink, nullptr), E_POINTER);
    p->Release();
}

TEST_F(ConnectionPoints, SinkWithoutThePointsInterfaceCannotConnect)
{
    IConnectionPoint *data = Point(IID_IOPCHDA_DataCallback);
    SinkObject sink; // implements IOPCShutdown only
    DWORD cookie = 0;
    TraceCapture cap;
    EXPECT_EQ(data->Advise(&sink, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_TRUE(cap.Contains("CHDACallbackConnectionPoint::Advise CONNECT_E_CANNOTCONNECT"));
    EXPECT_EQ(sink.refs, 1);
    // Still unadvised: a proper sink is accepted afterwards.
    IConnectionPoint *shutdown = Point(IID_IOPCShutdown);
    EXPECT_EQ(shutdown->Advise(&sink, &cookie), S_OK);
    shutdown->Unadvise(cookie);
    shutdown->Release();
    data->Release();
}

TEST_F(ConnectionPoints, EnumeratorListsBothPoints)
{
    IEnumConnectionPoints *e = nullptr;
    ASSERT_EQ(cpc->EnumConnectionPoints(&e), S_OK);
    IConnectionPoint *got[3] = {};
    ULONG fetched = 9;
    ASSERT_EQ(e->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    IID iid{};
    got[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCShutdown));
    got[0]->Release();
    ASSERT_EQ(e->Next(1, got, nullptr), S_OK);
    got[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCHDA_DataCallback));
    got[0]->Release();
    EXPECT_EQ(e->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(e->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    got[0]->Release();
    got[1]->Release();

    e->Reset();
    EXPECT_EQ(e->Skip(1), S_OK);
    IEnumConnectionPoints *clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Skip(2), S_FALSE);
    EXPECT_EQ(e->Next(1, got, &fetched), S_FALSE);
    // The clone continues at the second point, independently.
    ASSERT_EQ(clone->Next(2, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    got[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCHDA_DataCallback));
    got[0]->Release();

    // The enumerators keep the server object alive after the client lets go.
    TraceCapture cap;
    cpc->Release();
    cpc = nullptr;
    EXPECT_NE(unk->Release(), 0u);
    unk = nullptr;
    EXPECT_EQ(NumbrHDAClientConnections(), 1);
    EXPECT_EQ(clone->Release(), 0u);
    EXPECT_TRUE(cap.Contains("IOPCServerConnectionPtEnumerator::Release(1)"));
    EXPECT_EQ(e->Release(), 0u);
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
}

TEST_F(ConnectionPoints, ShutdownRequestReachesAdvisedSinksOnly)
{
    IUnknown *other = nullptr;
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&other)), S_OK);
    IConnectionPoint *p = Point(IID_IOPCShutdown);
    SinkObject sink;
    DWORD cookie = 0;
    ASSERT_EQ(p->Advise(&sink, &cookie), S_OK);

    EXPECT_EQ(RequestHDADisconnect(), 2);
    EXPECT_EQ(sink.shutdownCalls, 1);
    EXPECT_EQ(sink.lastReason, L"");
    // The sink stays advised and keeps its reference.
    EXPECT_EQ(sink.refs, 2);
    p->Release();
    other->Release();

    // Destroying the server object lets go of the advised sink.
    cpc->Release();
    cpc = nullptr;
    EXPECT_EQ(unk->Release(), 0u);
    unk = nullptr;
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(sink.refs, 1);
}

TEST_F(ConnectionPoints, DataCallbackCheckNeedsTheContainerButNoSink)
{
    EXPECT_TRUE(zq::DataCallbackCheck(*Server()));
    zq::ConnectionPoint *point = zq::DataCallbackLookup(*Server());
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(point->SinkWithReference(), nullptr);
    point->Release();

    IUnknown *bare = nullptr;
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&bare)), S_OK);
    EXPECT_FALSE(zq::DataCallbackCheck(*static_cast<zq::HDAServer *>(bare)));
    EXPECT_EQ(zq::DataCallbackLookup(*static_cast<zq::HDAServer *>(bare)), nullptr);
    bare->Release();
}
