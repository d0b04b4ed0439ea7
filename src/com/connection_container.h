// ConnectionContainer: the IConnectionPointContainer interface object of a
// client's HDAServer, with its two connection points.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>

#include "com/connection_point.h"
#include "com/hda_server.h"

namespace zq {

class ConnectionContainer final : public IConnectionPointContainer, public OwnedInterface
{
public:
    explicit ConnectionContainer(HDAServer *owner);
    ~ConnectionContainer() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint **out) override;

    void *Interface() override { return static_cast<IConnectionPointContainer *>(this); }
    HDAServer *Owner() const { return owner_; }

    // Null when the point could not be allocated.
    ConnectionPoint *ShutdownPoint() const { return shutdown_.get(); }
    ConnectionPoint *DataPoint() const { return data_.get(); }

private:
    HDAServer *const owner_;
    std::unique_ptr<ConnectionPoint> shutdown_;
    std::unique_ptr<ConnectionPoint> data_;
};

// The container of a client, or null if it never asked for one.
ConnectionContainer *ContainerOf(const HDAServer &server);

// Whether asynchronous requests of the client can be accepted: it has a
// container and the container finds its data callback point (a sink need
// not be advised yet).
bool DataCallbackCheck(HDAServer &server);

// The client's data callback point with one reference added (the caller
// releases it), or null.
ConnectionPoint *DataCallbackLookup(HDAServer &server);

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateConnectionContainer(HDAServer *owner);

} // namespace zq
