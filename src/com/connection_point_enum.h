// ConnectionPointEnum: lists a client's two connection points. It has a
// count of its own and keeps the client's HDAServer alive (one
// reference on the HDAServer) from its creation to its destruction.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include "runtime/com_kit.h"
#include "runtime/trace_texts.h"

namespace zq {

class ConnectionContainer;

class ConnectionPointEnum final : public IEnumConnectionPoints
{
public:
    // A new enumerator at position; count 0, the caller takes the first
    // reference. Null when memory runs out.
    static ConnectionPointEnum *Create(ConnectionContainer *container, LONG position);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint **points, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints **out) override;

private:
    ConnectionPointEnum(ConnectionContainer *container, LONG position);
    ~ConnectionPointEnum();

    ConnectionContainer *const container_;
    TracedRefCount refs_{texts::kIOPCServerConnectionPtEnumerator_AddRef,
                         texts::kIOPCServerConnectionPtEnumerator_Release,
                         TracedRefCount::ReleaseShows::Before};
    // Guards position_ against simultaneous calls on one enumerator.
    SRWLOCK lock_ = SRWLOCK_INIT;
    LONG position_;
};

} // namespace zq
