// Nothing is thrown across an export or a COM method: boundaries run their
// body through Guarded, which turns an exception into a result.
#pragma once

#include <windows.h>
#include <new>

namespace zq {

template <typename F> HRESULT Guarded(F &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// For exports with non-HRESULT results: onError is returned instead.
template <typename R, typename F> R GuardedOr(R onError, F &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onError;
    }
}

} // namespace zq
