#include "com/connection_container.h"

#include <new>

#include "com/connection_point_enum.h"
#include "opccomn.h"
#include "opchda.h"
#include "runtime/interface_names.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {

const PointTexts kShutdownTexts = {
    texts::kOPCSvrConnectionPoint_QueryInterface,
    texts::kOPCServerConnectionPoint_AddRef_defered_to_OPCServerConnectionContainer,
    texts::kOPCServerConnectionPoint_Release_defered_to_OPCServerConnectionContainer,
    texts::kOPCServerConnectionPoint_GetConnectionInterface,
    texts::kOPCServerConnectionPoint_GetConnectionPointContainer,
    texts::kOPCServerConnectionPoint_Advise,
    texts::kOPCServerConnectionPoint_Uadvise,
};

const PointTexts kDataTexts = {
    texts::kCHDACallbackConnectionPoint_QueryInterface,
    texts::kCHDACallbackConnectionPoint_AddRef_defered_to_OPCServerConnectionContainer,
    texts::kCHDACallbackConnectionPoint_Release_defered_to_OPCServerConnectionContainer,
    texts::kCHDACallbackConnectionPoint_GetConnectionInterface,
    texts::kCHDACallbackConnectionPoint_GetConnectionPointContainer,
    texts::kCHDACallbackConnectionPoint_Advise,
    texts::kCHDACallbackConnectionPoint_Uadvise,
};

constexpr const char *kQueryText = texts::kCIOPCServerConnectionContainer_QueryInterface;
constexpr const char *kFindText = texts::kCIHDASvrConnectionContainer_FindConnectionPoint;
constexpr const char *kEnumText = texts::kCIHDASvrConnectionContainer_EnumConnectionPoints;

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
    return AnswerOwnInterface(static_cast<IConnectionPointContainer *>(this), kQueryText,
                              IID_IConnectionPointContainer, " IID_IConnectionPointContainer", iid,
                              out);
}

ULONG STDMETHODCALLTYPE ConnectionContainer::AddRef()
{
    Trace(texts::kOPCServerConnectionContainer_AddRef_defered_to_OPCServer);
    return owner_->AddRef();
}

ULONG STDMETHODCALLTYPE ConnectionContainer::Release()
{
    Trace(texts::kOPCServerConnectionContainer_Release_defered_to_OPCServer);
    return owner_->Release();
}

HRESULT STDMETHODCALLTYPE ConnectionContainer::EnumConnectionPoints(IEnumConnectionPoints **out)
{
    if (out == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_INVALIDARG, kEnumText);
        return E_INVALIDARG;
    }
    ConnectionPointEnum *e = ConnectionPointEnum::Create(this, 0);
    if (e == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_OUTOFMEMORY, kEnumText);
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    ZQ_TRACEF(texts::kFormat_S_OK, kEnumText);
    e->AddRef();
    *out = e;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionContainer::FindConnectionPoint(REFIID iid, IConnectionPoint **out)
{
    if (out == nullptr) {
        ZQ_TRACEF(texts::kFormat_E_INVALIDARG, kFindText);
        return E_INVALIDARG;
    }
    ConnectionPoint *point = nullptr;
    if (IsEqualIID(iid, IID_IOPCShutdown)) {
        ZQ_TRACEF(texts::kFormat_IID_IOPCShutdown, kFindText);
        point = shutdown_.get();
    } else if (IsEqualIID(iid, IID_IOPCHDA_DataCallback)) {
        ZQ_TRACEF(texts::kFormat_IID_IOPCHDA_DataCallback, kFindText);
        point = data_.get();
    } else {
        ZQ_TRACEF(texts::kFormat_E_NOINTERFACE, kFindText);
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
