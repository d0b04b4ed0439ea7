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

}  // namespace xserver
