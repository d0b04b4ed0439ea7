#include "connection_point.h"

#include <olectl.h>

namespace xserver {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer *container, REFIID iid)
    : container_(container), iid_(iid)
{
    InitializeCriticalSection(&lock_);
}

ConnectionPoint::~ConnectionPoint()
{
    if (sink_)
        sink_->Release();
    DeleteCriticalSection(&lock_);
}

IUnknown *ConnectionPoint::Sink()
{
    EnterCriticalSection(&lock_);
    IUnknown *sink = sink_;
    if (sink)
        sink->AddRef();
    LeaveCriticalSection(&lock_);
    return sink;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ConnectionPoint::AddRef()
{
    return container_->AddRef();
}

ULONG STDMETHODCALLTYPE ConnectionPoint::Release()
{
    return container_->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID *iid)
{
    if (!iid)
        return E_POINTER;
    *iid = iid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer **cpc)
{
    if (!cpc)
        return E_POINTER;
    *cpc = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown *sink, DWORD *cookie)
{
    if (!sink || !cookie)
        return E_POINTER;
    *cookie = 0;
    IUnknown *typed = nullptr;
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void **>(&typed))))
        return CONNECT_E_CANNOTCONNECT;
    EnterCriticalSection(&lock_);
    HRESULT hr = S_OK;
    if (sink_) {
        hr = CONNECT_E_ADVISELIMIT;
    } else {
        sink_ = typed;
        typed = nullptr;
        cookie_ = nextCookie_++;
        *cookie = cookie_;
    }
    LeaveCriticalSection(&lock_);
    if (typed)
        typed->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie)
{
    EnterCriticalSection(&lock_);
    IUnknown *old = nullptr;
    if (sink_ && cookie == cookie_) {
        old = sink_;
        sink_ = nullptr;
        cookie_ = 0;
    }
    LeaveCriticalSection(&lock_);
    if (!old)
        return CONNECT_E_NOCONNECTION;
    old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections **ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

}  // namespace xserver
