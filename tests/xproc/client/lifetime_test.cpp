// The test server process ends by itself once the client has released every
// object, so that a test run leaves nothing behind.
#include "xproc_fixture.h"

namespace xclient {
namespace {

TEST(XprocLifetime, ServerProcessEndsNormallyWhenItsLastObjectIsReleased)
{
    ASSERT_TRUE(WaitForNoServer(kExitTimeoutMs));
    ComRef<IOPCHDA_Server> server;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(g_serverClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server, server.PutVoid()));
    std::vector<DWORD> ids = ServerProcesses();
    ASSERT_EQ(ids.size(), 1u);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[0]);
    ASSERT_NE(process, nullptr);

    // Another interface of the same object keeps the process alive.
    ComRef<IOPCCommon> common;
    ASSERT_HRESULT_SUCCEEDED(server->QueryInterface(IID_IOPCCommon, common.PutVoid()));
    server.Reset();
    LCID locale = 0;
    EXPECT_EQ(common->GetLocaleID(&locale), S_OK);

    common.Reset();
    EXPECT_EQ(WaitForSingleObject(process, kExitTimeoutMs), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 0u) << "the server ended by its time limit, not by the last release";
    CloseHandle(process);
}

}  // namespace
}  // namespace xclient
