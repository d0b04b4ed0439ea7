#include "com_fixture.h"

#include "runtime/server_state.h"
#include "runtime/client_worker.h"

namespace zqtest {

const CLSID kTestClsid = {0x7a3c0b10, 0x4d2e, 0x4f11, {0x9a, 0x51, 0x1c, 0x2d, 0x3e, 0x4f, 0x50, 0x61}};

namespace {
class ComEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(InitZqHDAsvr(kTestClsid, 1000000), 1);
    }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new ComEnvironment);
} // namespace

HRESULT CreateServer(REFIID iid, void **out)
{
    return CoCreateInstance(kTestClsid, nullptr, CLSCTX_LOCAL_SERVER, iid, out);
}

bool TickUntil(bool (*pred)(), DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return pred();
        zq::TickWorkers();
        Sleep(5);
    }
    return true;
}

bool AllServersDestroyed(DWORD timeoutMs)
{
    return TickUntil([] { return zq::HDAServer::LiveObjects() == 0; }, timeoutMs);
}

HRESULT STDMETHODCALLTYPE SinkObject::QueryInterface(REFIID iid, void **out)
{
    if (IsEqualIID(iid, IID_IUnknown) || (shutdown_ && IsEqualIID(iid, IID_IOPCShutdown))) {
        *out = static_cast<IOPCShutdown *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE SinkObject::ShutdownRequest(LPCWSTR reason)
{
    InterlockedIncrement(&shutdownCalls);
    lastReason = reason != nullptr ? reason : L"(null)";
    return S_OK;
}

} // namespace zqtest
