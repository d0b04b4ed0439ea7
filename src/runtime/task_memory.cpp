#include "runtime/task_memory.h"

#include "runtime/server_state.h"

#include <cstring>
#include <new>

namespace zq {

void *TaskAlloc(size_t size)
{
    IMalloc *m = State().taskAllocator.load();
    return m != nullptr ? m->Alloc(static_cast<SIZE_T>(size)) : nullptr;
}

bool EnsureTaskAllocator()
{
    if (State().taskAllocator.load() != nullptr)
        return true;
    IMalloc *malloc = nullptr;
    if (FAILED(CoGetMalloc(1, &malloc)) || malloc == nullptr)
        return false;
    // The task allocator is one object per process: whoever stored it
    // first, it is the same.
    IMalloc *none = nullptr;
    if (!State().taskAllocator.compare_exchange_strong(none, malloc))
        malloc->Release();
    return true;
}

void *ZeroedTaskAlloc(size_t size)
{
    void *p = TaskAlloc(size);
    if (p != nullptr)
        memset(p, 0, size);
    return p;
}

void TaskFree(void *block)
{
    if (block == nullptr)
        return;
    IMalloc *m = State().taskAllocator.load();
    if (m != nullptr)
        m->Free(block);
    else
        CoTaskMemFree(block);
}

wchar_t *WideCopy(const char *text, bool inTaskMemory)
{
    if (text == nullptr)
        text = "";
    size_t bytes = strlen(text);
    if (bytes >= static_cast<size_t>(INT_MAX))
        return nullptr;
    // Each byte yields at most one UTF-16 unit in an ANSI code page.
    int units = bytes == 0 ? 0
                           : MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes),
                                                 nullptr, 0);
    if (bytes != 0 && units <= 0)
        return nullptr;
    size_t size = (static_cast<size_t>(units) + 1) * sizeof(wchar_t);
    wchar_t *copy = inTaskMemory ? static_cast<wchar_t *>(ZeroedTaskAlloc(size))
                                 : new (std::nothrow) wchar_t[units + 1];
    if (copy == nullptr)
        return nullptr;
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(bytes), copy, units);
    copy[units] = L'\0';
    return copy;
}

bool AnsiFromWide(const wchar_t *text, std::string &out)
{
    out.clear();
    if (text == nullptr || *text == L'\0')
        return true;
    size_t units = wcslen(text);
    if (units >= static_cast<size_t>(INT_MAX))
        return false;
    // UTF-8 as the ANSI code page holds every character; it takes neither
    // the best-fit flag nor the used-default report, but refuses unpaired
    // surrogates. Every other code page is asked for an exact conversion and
    // reports whether it had to use its default character.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL *used = utf8 ? nullptr : &usedDefault;
    const int length = static_cast<int>(units);
    int n = WideCharToMultiByte(CP_ACP, flags, text, length, nullptr, 0, nullptr, used);
    if (n <= 0)
        return false;
    out.assign(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, text, length, &out[0], n, nullptr, used) != n)
        return false;
    return usedDefault == FALSE;
}

} // namespace zq
