#include "xproc_fixture.h"

#include <cstdio>

#include "unfixed_proxy.h"

namespace xclient {

CLSID g_serverClsid = xproc::kServerClsid;
IOPCHDA_Server *XprocServer::server_ = nullptr;

void XprocServer::SetUpTestSuite()
{
    ASSERT_TRUE(WaitForNoServer(kExitTimeoutMs)) << "a test server of an earlier run is still running";
    HRESULT hr = CoCreateInstance(g_serverClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server,
                                  reinterpret_cast<void **>(&server_));
    ASSERT_HRESULT_SUCCEEDED(hr);
}

void XprocServer::TearDownTestSuite()
{
    if (!server_)
        return;
    server_->Release();
    server_ = nullptr;
    // The last release ends the server process.
    EXPECT_TRUE(WaitForNoServer(kExitTimeoutMs)) << "the test server did not end after its last release";
}

int RunXprocTests(int argc, char **argv, REFCLSID clsid, const wchar_t *serverArguments, bool unfixedProxies)
{
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "CoInitializeEx failed\n");
        return 2;
    }
    HRESULT hr = unfixedProxies ? UseUnfixedProxies() : S_OK;
    if (FAILED(hr)) {
        std::fprintf(stderr, "the uncorrected proxy/stub code could not be loaded: 0x%08lx\n",
                     static_cast<unsigned long>(hr));
        CoUninitialize();
        return 2;
    }
    g_serverClsid = clsid;
    hr = RegisterServer(clsid, serverArguments);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the test server could not be registered: 0x%08lx\n", static_cast<unsigned long>(hr));
        CoUninitialize();
        return 2;
    }
    int status = RUN_ALL_TESTS();
    hr = UnregisterServer(clsid);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the test server's registration could not be removed: 0x%08lx\n",
                     static_cast<unsigned long>(hr));
        status = status ? status : 3;
    }
    CoUninitialize();
    return status;
}

}  // namespace xclient
