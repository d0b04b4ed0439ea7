// The class factory registered at start-up: one HDAServer per creation
// request, appended to the client list with its worker thread running.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "com/class_factory.h"
#include "com/hda_server.h"
#include "runtime/client.h"
#include "runtime/com_kit.h"
#include "runtime/server_state.h"

namespace zq {

namespace {

class ClassFactory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return AnswerOwnInterface(static_cast<IClassFactory *>(this), "", IID_IClassFactory, "",
                                  iid, out, QueryTraces::None);
    }
    // The count is kept but never frees the factory: it lives until unload.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        if (out != nullptr)
            *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        HDAServer *server = HDAServer::Create();
        if (server == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = server->QueryInterface(iid, out);
        if (FAILED(hr)) {
            server->Destroy();
            return hr;
        }
        // The worker is started before the object joins the client list, so
        // that a failure to start it can still be undone without the host
        // hearing of a client that never was.
        if (!server->StartWorker()) {
            *out = nullptr;
            server->Destroy();
            return E_OUTOFMEMORY;
        }
        AddClient(server);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            ++State().lockCount;
        else
            --State().lockCount;
        return S_OK;
    }

private:
    std::atomic<LONG> refs_{0};
};

} // namespace

IClassFactory *CreateServerClassFactory() { return new (std::nothrow) ClassFactory(); }

void DeleteServerClassFactory(IClassFactory *factory) { delete static_cast<ClassFactory *>(factory); }

} // namespace zq
