// A minimal connection point of the test server: one advised sink at a time.
// It lives inside its container and forwards reference counting to it.
#pragma once

#include "xproc_canned.h"

namespace xserver {

class ConnectionPoint final : public IConnectionPoint
{
public:
    ConnectionPoint(IConnectionPointContainer *container, REFIID iid);
    ~ConnectionPoint();

    // The advised sink (queried for the connection's interface) with one
    // added reference, or null.
    IUnknown *Sink();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer **cpc) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *sink, DWORD *cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **ppEnum) override;

private:
    IConnectionPointContainer *container_;
    IID iid_;
    CRITICAL_SECTION lock_;
    IUnknown *sink_ = nullptr;
    DWORD cookie_ = 0;
    DWORD nextCookie_ = 1;
};

}  // namespace xserver
