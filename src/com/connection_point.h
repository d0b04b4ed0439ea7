// ConnectionPoint: one of the two connection points of a client's HDAServer,
// for IOPCShutdown or for IOPCHDA_DataCallback (the two trace their calls
// under different names, see PointTexts). Each
// holds at most one client sink, under cookie 1. It has no reference count
// of its own: AddRef and Release go to the container, and through it to the
// client's HDAServer.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

namespace zq {

class ConnectionContainer;

// Whether a failed call on a client's sink says that the client is gone (its
// process ended or it disconnected the sink): RPC_S_SERVER_UNAVAILABLE and
// RPC_S_CALL_FAILED_DNE as HRESULTs, RPC_E_DISCONNECTED, CO_E_OBJNOTCONNECTED,
// RPC_E_SERVER_DIED and RPC_E_SERVER_DIED_DNE. Such a sink never answers
// again.
bool SinkIsGone(HRESULT hr);

struct PointTexts
{
    const char *queryInterface;
    const char *addRef;
    const char *release;
    const char *getConnectionInterface;
    const char *getConnectionPointContainer;
    const char *advise;
    const char *unadvise;
};

class ConnectionPoint final : public IConnectionPoint
{
public:
    ConnectionPoint(ConnectionContainer *container, const IID &iid, const PointTexts &texts);
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint &) = delete;
    ConnectionPoint &operator=(const ConnectionPoint &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer **out) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *sink, DWORD *cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **out) override;

    // The advised sink (as the point's interface) with a reference added for
    // the caller, or null. A sink may be unadvised on another thread at any
    // moment; the reference keeps it valid for the caller's call.
    IUnknown *SinkWithReference() const;

    // A call on the sink failed with hr. If hr says the client is gone
    // (SinkIsGone) and the point still holds that same sink, the point lets
    // go of it as Unadvise would. True if it did.
    bool DropGoneSink(IUnknown *sink, HRESULT hr);
    // Whether the point still holds this sink (not unadvised meanwhile).
    bool Holds(IUnknown *sink) const;

private:
    ConnectionContainer *const container_;
    const IID iid_;
    const PointTexts texts_;
    // Guards sink_; never held across a call to the client.
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    IUnknown *sink_ = nullptr;
};

} // namespace zq
