#include "com/connection_point.h"

#include "com/connection_container.h"
#include "runtime/interface_names.h"
#include "runtime/srw_guard.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

bool SinkIsGone(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE) || hr == RPC_E_DISCONNECTED ||
           hr == CO_E_OBJNOTCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE;
}

ConnectionPoint::ConnectionPoint(ConnectionContainer *container, const IID &iid,
                                 const PointTexts &texts)
    : container_(container), iid_(iid), texts_(texts)
{
}

ConnectionPoint::~ConnectionPoint()
{
    // At the HDAServer's destruction the sink is let go without a word.
    if (sink_ != nullptr)
        sink_->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::QueryInterface(REFIID iid, void **out)
{
    return AnswerOwnInterface(static_cast<IConnectionPoint *>(this), texts_.queryInterface,
                              IID_IConnectionPoint, " IID_IConnectionPoint", iid, out);
}

ULONG STDMETHODCALLTYPE ConnectionPoint::AddRef()
{
    Trace(texts_.addRef);
    return container_->AddRef();
}

ULONG STDMETHODCALLTYPE ConnectionPoint::Release()
{
    Trace(texts_.release);
    return container_->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID *iid)
{
    if (iid == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_INVALIDARG, texts_.getConnectionInterface);
        return E_INVALIDARG;
    }
    Trace(texts_.getConnectionInterface);
    *iid = iid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer **out)
{
    if (out == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_INVALIDARG, texts_.getConnectionPointContainer);
        return E_INVALIDARG;
    }
    Trace(texts_.getConnectionPointContainer);
    *out = container_;
    container_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown *sink, DWORD *cookie)
{
    if (sink == nullptr || cookie == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_POINTER, texts_.advise);
        return E_POINTER;
    }
    if (!Holds(nullptr)) { // a sink is advised already
        ZQ_TRACEF(texts::kFormat_E_ADVISELIMIT, texts_.advise);
        return CONNECT_E_ADVISELIMIT;
    }
    // The sink's QueryInterface is a call to the client: made without the lock.
    IUnknown *typed = nullptr;
    if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void **>(&typed))) || typed == nullptr) {
        ZQ_TRACEF(texts::kFormat_CONNECT_E_CANNOTCONNECT, texts_.advise);
        return CONNECT_E_CANNOTCONNECT;
    }
    bool raced;
    {
        SrwExclusive hold(lock_);
        raced = sink_ != nullptr;
        if (!raced)
            sink_ = typed;
    }
    if (raced) {
        // Another Advise of the same client got there first.
        typed->Release();
        ZQ_TRACEF(texts::kFormat_E_ADVISELIMIT, texts_.advise);
        return CONNECT_E_ADVISELIMIT;
    }
    *cookie = 1;
    ZQ_TRACEF(texts::kFormat_S_OK, texts_.advise);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie)
{
    IUnknown *old = nullptr;
    {
        SrwExclusive hold(lock_);
        if (sink_ != nullptr && cookie == 1) {
            old = sink_;
            sink_ = nullptr;
        }
    }
    if (old == nullptr) {
        ZQ_TRACEF(texts::kFormat_CONNECT_E_NOCONNECTION, texts_.unadvise);
        return CONNECT_E_NOCONNECTION;
    }
    old->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections **)
{
    return E_NOTIMPL;
}

IUnknown *ConnectionPoint::SinkWithReference() const
{
    SrwShared hold(lock_);
    if (sink_ != nullptr)
        sink_->AddRef();
    return sink_;
}

bool ConnectionPoint::Holds(IUnknown *sink) const
{
    SrwShared hold(lock_);
    return sink_ == sink;
}

bool ConnectionPoint::DropGoneSink(IUnknown *sink, HRESULT hr)
{
    if (sink == nullptr || !SinkIsGone(hr))
        return false;
    IUnknown *old = nullptr;
    {
        SrwExclusive hold(lock_);
        if (sink_ == sink) {
            old = sink_;
            sink_ = nullptr;
        }
    }
    if (old == nullptr)
        return false; // unadvised or replaced meanwhile
    // The proxy's release goes to a dead client and fails at once.
    old->Release();
    return true;
}

} // namespace zq
