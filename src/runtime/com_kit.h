// The COM kit: the idioms that every COM object of the library, and every
// client of it in the tools, tests and benchmarks, would otherwise write for
// itself. One header, so that each is written once:
//   ComPtr<T>           an interface pointer that releases itself;
//   ClearOut(outs...)   clears each out pointer a caller gave;
//   TracedRefCount      a reference count whose AddRef and Release trace;
//   AnswerOwnInterface  QueryInterface of a single-interface object
//                       (runtime/interface_names.h);
//   SrwExclusive, SrwShared  scoped holds of a slim reader-writer lock
//                       (runtime/srw_guard.h): no raw acquire/release pairs.
// Programs that do not link the library use ComPtr, ClearOut and the lock
// guards only: the others call into the library's trace channel.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <utility>

#include "runtime/interface_names.h"
#include "runtime/srw_guard.h"
#include "runtime/trace.h"

namespace zq {

// An interface pointer that releases itself. Copies add a reference; Put()
// gives the address for an [out] parameter after releasing what was held.
template <class T> class ComPtr
{
public:
    ComPtr() = default;
    // Takes over a reference the caller owns.
    explicit ComPtr(T *p) noexcept : p_(p) {}
    ComPtr(const ComPtr &other) noexcept : p_(other.p_)
    {
        if (p_ != nullptr)
            p_->AddRef();
    }
    ComPtr(ComPtr &&other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr &operator=(ComPtr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T *Get() const noexcept { return p_; }
    T *operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    T **Put() noexcept
    {
        Reset();
        return &p_;
    }
    void **PutVoid() noexcept { return reinterpret_cast<void **>(Put()); }

    void Reset() noexcept
    {
        if (p_ != nullptr)
            p_->Release();
        p_ = nullptr;
    }
    // Hands the reference to the caller.
    T *Detach() noexcept
    {
        T *p = p_;
        p_ = nullptr;
        return p;
    }
    // QueryInterface of from for T (E_POINTER for a null from).
    HRESULT QueryFrom(IUnknown *from, REFIID iid) noexcept
    {
        Reset();
        return from != nullptr ? from->QueryInterface(iid, PutVoid()) : E_POINTER;
    }
#if defined(_MSC_VER) || defined(__MINGW32__)
    HRESULT QueryFrom(IUnknown *from) noexcept { return QueryFrom(from, __uuidof(T)); }
#endif

private:
    T *p_ = nullptr;
};

// Clears each out value that the caller gave (null pointers to them are
// skipped): out pointers become null, numbers 0. A refused call never leaves
// the caller's variables as they were.
template <typename... T> void ClearOut(T *...outs) noexcept
{
    ((outs != nullptr ? static_cast<void>(*outs = T{}) : static_cast<void>(0)), ...);
}

// A reference count whose AddRef and Release trace "<text>(<n>)". Each
// object keeps its own texts and shows in its Release trace either the count
// before the decrement or the count after it; clients and hosts read these
// traces, so each object's choice stays as it is. Thread-safe (atomic).
class TracedRefCount
{
public:
    enum class ReleaseShows { Before, After };

    TracedRefCount(const char *addRefText, const char *releaseText, ReleaseShows shows,
                   LONG initial = 0) noexcept
        : refs_(initial), addRefText_(addRefText), releaseText_(releaseText), shows_(shows)
    {
    }
    TracedRefCount(const TracedRefCount &) = delete;
    TracedRefCount &operator=(const TracedRefCount &) = delete;

    // The count after the increment.
    ULONG Add() noexcept
    {
        const LONG n = ++refs_;
        ZQ_TRACEF("%s(%d)", addRefText_, static_cast<int>(n));
        return static_cast<ULONG>(n);
    }
    // The count after the decrement: the caller deletes the object at 0.
    ULONG Drop() noexcept
    {
        const LONG before = refs_.fetch_sub(1);
        const LONG n = before - 1;
        ZQ_TRACEF("%s(%d)", releaseText_, static_cast<int>(shows_ == ReleaseShows::Before ? before : n));
        return static_cast<ULONG>(n);
    }
    // Adds a reference (untraced) unless the count already reached 0: the
    // object is leaving and must not be revived.
    bool AddUnlessZero() noexcept
    {
        LONG n = refs_.load();
        while (n > 0) {
            if (refs_.compare_exchange_weak(n, n + 1))
                return true;
        }
        return false;
    }
    LONG Count() const noexcept { return refs_.load(); }

private:
    std::atomic<LONG> refs_;
    const char *const addRefText_;
    const char *const releaseText_;
    const ReleaseShows shows_;
};

} // namespace zq
