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

std::string AnsiFromWide(const wchar_t *text)
{
    if (text == nullptr || *text == L'\0')
        return std::string();
    size_t units = wcslen(text);
    if (units >= static_cast<size_t>(INT_MAX))
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), &out[0], n, nullptr, nullptr);
    return out;
}

} // namespace zq
