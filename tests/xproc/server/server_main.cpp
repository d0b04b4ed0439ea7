// The cross-process test server: a LocalServer32 executable that serves one
// class (xproc::kServerClsid) with canned answers in the multithreaded
// apartment and ends when its last object has been released. With
// --unfixed it marshals with widl's uncorrected proxy code.
#include <cwchar>

#include "hda_server.h"
#include "lifetime.h"
#include "unfixed_proxy.h"

namespace {

using namespace xserver;

// However the client behaves, the process ends after this long.
constexpr DWORD kLifetimeLimitMs = 120000;

class Factory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; the class object registration keeps no count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *server = new HdaServer();
        HRESULT hr = server->QueryInterface(riid, ppv);
        server->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            ObjectCreated();
        else
            ObjectDestroyed();
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    bool unfixed = false;
    for (int i = 1; i < argc; ++i)
        if (wcscmp(argv[i], xproc::kUnfixedOption) == 0)
            unfixed = true;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    int status = 0;
    if (unfixed && FAILED(UseUnfixedProxies())) {
        status = 2;
    } else {
        const CLSID &clsid = unfixed ? xproc::kUnfixedServerClsid : xproc::kServerClsid;
        DWORD cookie = 0;
        if (FAILED(CoRegisterClassObject(clsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
            status = 3;
        } else {
            if (!WaitForLastRelease(kLifetimeLimitMs))
                status = 4;
            CoRevokeClassObject(cookie);
        }
    }
    CoUninitialize();
    return status;
}
