#include "com/connection_point_enum.h"

#include <new>

#include "com/connection_container.h"
#include "com/interface_names.h"
#include "opccomn.h"
#include "opchda.h"
#include "runtime/trace.h"

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
                              "CIOPCServerConnectionContainer::QueryInterface",
                              IID_IEnumConnectionPoints, " IID_IEnumConnectionPoints", iid, out);
}

ULONG STDMETHODCALLTYPE ConnectionPointEnum::AddRef()
{
    LONG n = ++refs_;
    ZQ_TRACEF("IOPCServerConnectionPtEnumerator::AddRef(%d)", static_cast<int>(n));
    return static_cast<ULONG>(n);
}

ULONG STDMETHODCALLTYPE ConnectionPointEnum::Release()
{
    LONG before = refs_.fetch_sub(1);
    ZQ_TRACEF("IOPCServerConnectionPtEnumerator::Release(%d)", static_cast<int>(before));
    LONG n = before - 1;
    if (n == 0)
        delete this;
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Next(ULONG count, IConnectionPoint **points,
                                                    ULONG *fetched)
{
    Trace("CIOPCServerConnectionPtEnumerator::Next");
    if (fetched == nullptr && count != 1)
        return E_POINTER;
    if (points == nullptr && count != 0)
        return E_POINTER;
    ULONG delivered = 0;
    AcquireSRWLockExclusive(&lock_);
    while (delivered < count && position_ >= 0 && position_ < kPoints) {
        IConnectionPoint *p = nullptr;
        if (FAILED(container_->FindConnectionPoint(*kPointIids[position_], &p)))
            break;
        points[delivered++] = p;
        ++position_;
    }
    ReleaseSRWLockExclusive(&lock_);
    if (fetched != nullptr)
        *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Skip(ULONG count)
{
    AcquireSRWLockExclusive(&lock_);
    ULONG remaining = position_ < kPoints ? static_cast<ULONG>(kPoints - position_) : 0;
    HRESULT hr = S_OK;
    if (count <= remaining) {
        position_ += static_cast<LONG>(count);
    } else {
        position_ = kPoints;
        hr = S_FALSE;
    }
    ReleaseSRWLockExclusive(&lock_);
    return hr;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Reset()
{
    AcquireSRWLockExclusive(&lock_);
    position_ = 0;
    ReleaseSRWLockExclusive(&lock_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPointEnum::Clone(IEnumConnectionPoints **out)
{
    if (out == nullptr)
        return E_POINTER;
    AcquireSRWLockShared(&lock_);
    LONG position = position_;
    ReleaseSRWLockShared(&lock_);
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
