// One test server process for a whole suite: created in the multithreaded
// apartment with CLSCTX_LOCAL_SERVER, and at the end released and watched
// until its process has ended.
#pragma once

#include <gtest/gtest.h>

#include "server_process.h"

namespace xclient {

constexpr DWORD kSinkTimeoutMs = 10000;
// A server process under load (or with its 32-bit half emulated) can take
// many seconds to end; the wait returns as soon as it has.
constexpr DWORD kExitTimeoutMs = 60000;

// The class the fixture creates (set by main before the tests run).
extern CLSID g_serverClsid;

class XprocServer : public ::testing::Test
{
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    void SetUp() override { ASSERT_NE(server_, nullptr) << "the test server could not be created"; }

    template <class T>
    void Query(ComRef<T> &out)
    {
        ASSERT_HRESULT_SUCCEEDED(server_->QueryInterface(__uuidof(T), out.PutVoid()));
        ASSERT_TRUE(out);
    }

    // Advises sink on the server's connection point for iid.
    void Advise(REFIID iid, IUnknown *sink, ComRef<IConnectionPoint> &point, DWORD &cookie)
    {
        ComRef<IConnectionPointContainer> container;
        Query(container);
        ASSERT_EQ(container->FindConnectionPoint(iid, point.Put()), S_OK);
        ASSERT_TRUE(point);
        ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
        ASSERT_NE(cookie, 0u);
    }

    static IOPCHDA_Server *server_;
};

// The main() of both cross-process test programs: MTA, the server's
// registration for the duration of the run, the tests.
int RunXprocTests(int argc, char **argv, REFCLSID clsid, const wchar_t *serverArguments, bool unfixedProxies);

}  // namespace xclient
