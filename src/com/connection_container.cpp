#include "com/connection_container.h"

#include <new>

#include "com/connection_point_enum.h"
#include "com/interface_names.h"
#include "opccomn.h"
#include "opchda.h"
#include "runtime/trace.h"

namespace zq {

namespace {

const PointTexts kShutdownTexts = {
    "OPCSvrConnectionPoint::QueryInterface",
    "OPCServerConnectionPoint::AddRef() [defered to OPCServerConnectionContainer]",
    "OPCServerConnectionPoint::Release() [defered to OPCServerConnectionContainer]",
    "OPCServerConnectionPoint::GetConnectionInterface",
    "OPCServerConnectionPoint::GetConnectionPointContainer",
    "OPCServerConnectionPoint::Advise",
    "OPCServerConnectionPoint::Uadvise",
};

const PointTexts kDataTexts = {
    "CHDACallbackConnectionPoint::QueryInterface",
    "CHDACallbackConnectionPoint::AddRef() [defered to OPCServerConnectionContainer]",
    "CHDACallbackConnectionPoint::Release() [defered to OPCServerConnectionContainer]",
    "CHDACallbackConnectionPoint::GetConnectionInterface",
    "CHDACallbackConnectionPoint::GetConnectionPointContainer",
    "CHDACallbackConnectionPoint::Advise",
    "CHDACallbackConnectionPoint::Uadvise",
};

const char kQueryText[] = "CIOPCServerConnectionContainer::QueryInterface";
const char kFindText[] = "CIHDASvrConnectionContainer::FindConnectionPoint";
const char kEnumText[] = "CIHDASvrConnectionContainer::EnumConnectionPoints";

} // namespace

ConnectionContainer::ConnectionContainer(HDAServer *owner)
    : owner_(owner),
      shutdown_(new (std::nothrow) ConnectionPoint(this, IID_IOPCShutdown, kShutdownTexts)),
      data_(new (std::nothrow) ConnectionPoint(this, IID_IOPCHDA_DataCallback, kDataTexts))
{
}

ConnectionContainer::~ConnectionContainer() = default;

HRESULT STDMETHODCALLTYPE ConnectionContainer::QueryInterface(REFIID iid, void **out)
{
    if (out == nullptr) {
        ZQ_TRACEF("%s E_INVALIDARG", kQueryText);
        return E_INVALIDARG;
    }
    const char *answer = IsEqualIID(iid, IID_IUnknown) ? " IID_IUnknown"
                         : IsEqualIID(iid, IID_IConnectionPointContainer)
                             ? " IID_IConnectionPointContainer"
                             : nullptr;
    if (answer == nullptr) {
        ZQ_TRACEF("%s%s", kQueryText, InterfaceNameSuffix(iid));
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ZQ_TRACEF("%s%s", kQueryText, answer);
    *out = static_cast<IConnectionPointContainer *>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ConnectionContainer::AddRef()
{
    Trace("OPCServerConnectionContainer::AddRef() [defered to OPCServer]");
    return owner_->AddRef();
}

ULONG STDMETHODCALLTYPE ConnectionContainer::Release()
{
    Trace("OPCServerConnectionContainer::Release() [defered to OPCServer]");
    return owner_->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionContainer::EnumConnectionPoints(IEnumConnectionPoints **out)
{
    if (out == nullptr) {
        ZQ_TRACEF("%s E_INVALIDARG", kEnumText);
        return E_INVALIDARG;
    }
    ConnectionPointEnum *e = ConnectionPointEnum::Create(this, 0);
    if (e == nullptr) {
        ZQ_TRACEF("%s E_OUTOFMEMORY", kEnumText);
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    ZQ_TRACEF("%s S_OK", kEnumText);
    e->AddRef();
    *out = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionContainer::FindConnectionPoint(REFIID iid, IConnectionPoint **out)
{
    if (out == nullptr) {
        ZQ_TRACEF("%s E_INVALIDARG", kFindText);
        return E_INVALIDARG;
    }
    ConnectionPoint *point = nullptr;
    if (IsEqualIID(iid, IID_IOPCShutdown)) {
        ZQ_TRACEF("%s IID_IOPCShutdown", kFindText);
        point = shutdown_.get();
    } else if (IsEqualIID(iid, IID_IOPCHDA_DataCallback)) {
        ZQ_TRACEF("%s IID_IOPCHDA_DataCallback", kFindText);
        point = data_.get();
    } else {
        ZQ_TRACEF("%s E_NOINTERFACE", kFindText);
        return E_NOINTERFACE;
    }
    if (point == nullptr)
        return E_NOINTERFACE;
    point->AddRef();
    *out = point;
    return S_OK;
}

ConnectionContainer *ContainerOf(const HDAServer &server)
{
    return static_cast<ConnectionContainer *>(server.Existing(Slot::Container));
}

bool DataCallbackCheck(HDAServer &server)
{
    ConnectionContainer *c = ContainerOf(server);
    if (c == nullptr)
        return false;
    IConnectionPoint *point = nullptr;
    if (FAILED(c->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point)))
        return false;
    point->Release();
    return true;
}

ConnectionPoint *DataCallbackLookup(HDAServer &server)
{
    ConnectionContainer *c = ContainerOf(server);
    if (c == nullptr)
        return nullptr;
    IConnectionPoint *point = nullptr;
    if (FAILED(c->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point)))
        return nullptr;
    return static_cast<ConnectionPoint *>(point);
}

void SendShutdownToSink(HDAServer &server)
{
    ConnectionContainer *c = ContainerOf(server);
    if (c == nullptr || c->ShutdownPoint() == nullptr)
        return;
    // Held for the call only, so that an Unadvise on another thread cannot
    // free the sink under it; the sink stays advised unless the call says
    // that the client is gone.
    IUnknown *sink = c->ShutdownPoint()->SinkWithReference();
    if (sink == nullptr)
        return;
    HRESULT hr = static_cast<IOPCShutdown *>(sink)->ShutdownRequest(L"");
    c->ShutdownPoint()->DropGoneSink(sink, hr);
    sink->Release();
}

OwnedInterface *CreateConnectionContainer(HDAServer *owner)
{
    return new (std::nothrow) ConnectionContainer(owner);
}

} // namespace zq
