#include "com/connection_point_enum.h"

#include <new>

#include "com/connection_container.h"
#include "opccomn.h"
#include "opchda.h"
#include "runtime/interface_names.h"
#include "runtime/srw_guard.h"
#include "runtime/trace.h"
#include "runtime/trace_texts.h"

namespace zq {

namespace {
constexpr LONG kPoints = 2;
const IID *const kPointIids[kPoints] = {&IID_IOPCShutdown, &IID_IOPCHDA_DataCallback};
} // namespace

ConnectionPointEnum *ConnectionPointEnum::Create(ConnectionContainer *container, LONG position)
{
    return new (std::nothrow) ConnectionPointEnum(container, position);
}

ConnectionPointEnum::ConnectionPointEnum(ConnectionContainer *container, LONG position)
    : container_(container), position_(position)
{
    container_->Owner()->AddRef();
}

ConnectionPointEnum::~ConnectionPointEnum() { container_->Owner()->Release(); }

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::QueryInterface(REFIID iid, void **out)
{
    return AnswerOwnInterface(static_cast<IEnumConnectionPoints *>(this),
                              texts::kCIOPCServerConnectionContainer_QueryInterface,
                              IID_IEnumConnectionPoints, " IID_IEnumConnectionPoints", iid, out);
}

ULONG STDMETHODCALLTYPE ConnectionPointEnum::AddRef() { return refs_.Add(); }

ULONG STDMETHODCALLTYPE ConnectionPointEnum::Release()
{
    const ULONG n = refs_.Drop();
    if (n == 0)
        delete this;
    return n;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Next(ULONG count, IConnectionPoint **points,
                                                    ULONG *fetched)
{
    Trace(texts::kCIOPCServerConnectionPtEnumerator_Next);
    if (fetched == nullptr && count != 1)
        return E_POINTER;
    if (points == nullptr && count != 0)
        return E_POINTER;
    ULONG delivered = 0;
    {
        SrwExclusive hold(lock_);
        while (delivered < count && position_ >= 0 && position_ < kPoints) {
            IConnectionPoint *p = nullptr;
            if (FAILED(container_->FindConnectionPoint(*kPointIids[position_], &p)))
                break;
            points[delivered++] = p;
            ++position_;
        }
    }
    if (fetched != nullptr)
        *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Skip(ULONG count)
{
    SrwExclusive hold(lock_);
    ULONG remaining = position_ < kPoints ? static_cast<ULONG>(kPoints - position_) : 0;
    if (count <= remaining) {
        position_ += static_cast<LONG>(count);
        return S_OK;
    }
    position_ = kPoints;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Reset()
{
    SrwExclusive hold(lock_);
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Clone(IEnumConnectionPoints **out)
{
    if (out == nullptr)
        return E_POINTER;
    LONG position;
    {
        SrwShared hold(lock_);
        position = position_;
    }
    ConnectionPointEnum *e = Create(container_, position);
    if (e == nullptr) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    e->AddRef();
    *out = e;
    return S_OK;
}

} // namespace zq
