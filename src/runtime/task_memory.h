// Memory handed to clients: every block comes from the COM task allocator
// obtained at start-up, and wide strings are converted from the ANSI code page.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <cstddef>
#include <string>

namespace zq {

// Makes sure there is a task allocator (the COM server's start gets it; a
// front end that runs without the COM server, the OPC UA endpoint, asks for
// it here). False when COM has none to give.
bool EnsureTaskAllocator();

// Allocates size bytes through the task allocator and zeroes them; null when
// there is no task allocator yet or the allocation fails.
void *ZeroedTaskAlloc(size_t size);

// Allocates count elements of T, zeroed; null on failure or overflow.
template <typename T> T *ZeroedTaskArray(size_t count)
{
    if (count != 0 && count > static_cast<size_t>(-1) / sizeof(T))
        return nullptr;
    return static_cast<T *>(ZeroedTaskAlloc(count * sizeof(T)));
}

// Allocates size bytes through the task allocator, not zeroed; null when
// there is no task allocator yet or the allocation fails.
void *TaskAlloc(size_t size);

// Allocates count elements of T without zeroing them; null on failure or
// overflow. Only for arrays whose every element is written before the array
// reaches a client (large result arrays, where zeroing is a cost of its own).
template <typename T> T *UnzeroedTaskArray(size_t count)
{
    if (count != 0 && count > static_cast<size_t>(-1) / sizeof(T))
        return nullptr;
    return static_cast<T *>(TaskAlloc(count * sizeof(T)));
}

// Frees a block from ZeroedTaskAlloc / WideCopy(.., true); null is fine.
void TaskFree(void *block);

// Gives each block back and leaves its pointer null (the arrays of a result
// record that is emptied again).
template <typename... T> void TaskFreeAll(T *&...blocks)
{
    ((TaskFree(blocks), blocks = nullptr), ...);
}

// Wide copy of 8-bit text (ANSI code page, terminator included), through the
// task allocator when inTaskMemory is set, else with new[] (free with
// delete[]). Null text counts as empty. Null on failure.
wchar_t *WideCopy(const char *text, bool inTaskMemory);

// 8-bit text in the ANSI code page from a client's wide string; null counts as
// empty. No character is mapped to a lookalike ("best fit"): one the code
// page cannot hold becomes the code page's default character in out, and the
// result is false, so that such text never names anything (an item ID with
// a fullwidth digit is not the ID with the ASCII digit). Every conversion of
// client text goes through here.
bool AnsiFromWide(const wchar_t *text, std::string &out);

// Owns a block of task memory until released to a client.
template <typename T> class TaskPtr
{
public:
    TaskPtr() = default;
    explicit TaskPtr(T *p) : p_(p) {}
    TaskPtr(const TaskPtr &) = delete;
    TaskPtr &operator=(const TaskPtr &) = delete;
    TaskPtr(TaskPtr &&o) noexcept : p_(o.release()) {}
    TaskPtr &operator=(TaskPtr &&o) noexcept
    {
        reset(o.release());
        return *this;
    }
    ~TaskPtr() { reset(); }

    T *get() const { return p_; }
    T &operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }
    T *release()
    {
        T *p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T *p = nullptr)
    {
        if (p_ != nullptr)
            TaskFree(p_);
        p_ = p;
    }

private:
    T *p_ = nullptr;
};

} // namespace zq
