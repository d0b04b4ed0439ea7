// Task-allocator helpers of the test server: everything handed out through an
// [out] parameter comes from CoTaskMemAlloc and is freed by the client.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <cwchar>

namespace xserver {

// Zeroed array of n elements (at least one byte, so that 0 elements is not null).
template <class T>
T *TaskArray(size_t n)
{
    size_t bytes = n * sizeof(T);
    void *p = CoTaskMemAlloc(bytes ? bytes : 1);
    if (p)
        std::memset(p, 0, bytes ? bytes : 1);
    return static_cast<T *>(p);
}

inline LPWSTR TaskString(const wchar_t *text)
{
    if (!text)
        return nullptr;
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto *p = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (p)
        std::memcpy(p, text, bytes);
    return p;
}

// Frees n task strings and their array (the array may be null).
inline void FreeTaskStrings(LPWSTR *strings, size_t n)
{
    for (size_t i = 0; strings && i < n; ++i)
        CoTaskMemFree(strings[i]);
    CoTaskMemFree(strings);
}

// Allocates n results and their errors and lets fill(i, result, error) build
// each one; hands both arrays out, or frees everything if a fill failed.
// Returns S_FALSE if any error is set.
template <class Result, class Fill, class Free>
HRESULT FillResults(DWORD n, Fill fill, Free freeResult, Result **results, HRESULT **errors)
{
    Result *out = TaskArray<Result>(n);
    HRESULT *err = TaskArray<HRESULT>(n);
    bool ok = out && err;
    HRESULT status = S_OK;
    for (DWORD i = 0; ok && i < n; ++i) {
        ok = fill(i, out[i], err[i]);
        if (err[i] != S_OK)
            status = S_FALSE;
    }
    if (!ok) {
        for (DWORD i = 0; out && i < n; ++i)
            freeResult(out[i]);
        CoTaskMemFree(out);
        CoTaskMemFree(err);
        return E_OUTOFMEMORY;
    }
    *results = out;
    *errors = err;
    return status;
}

}  // namespace xserver
