// Interface objects: one small object per OPC interface a client asked its
// HDAServer for. They have no reference count of their own: AddRef,
// Release and QueryInterface trace their text and forward to the owning
// HDAServer, which deletes them when it is destroyed.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "com/hda_server.h"
#include "runtime/trace.h"

namespace zq {

// The traces of an interface object's IUnknown methods.
struct ForwardTexts
{
    const char *addRef;
    const char *release;
    const char *queryInterface;
};

template <class I> class InterfaceObject : public I, public OwnedInterface
{
public:
    InterfaceObject(HDAServer *owner, const ForwardTexts &texts) : owner_(owner), texts_(texts) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        Trace(texts_.queryInterface);
        return owner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        Trace(texts_.addRef);
        return owner_->AddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        Trace(texts_.release);
        return owner_->Release();
    }

    void *Interface() override { return static_cast<I *>(this); }
    HDAServer *Owner() const { return owner_; }

protected:
    HDAServer *const owner_;
    const ForwardTexts texts_;
};

} // namespace zq
