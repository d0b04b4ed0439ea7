// Scoped holds of a slim reader-writer lock, released on every path out of
// the scope (exceptions included).
#pragma once

#include <windows.h>

namespace zq {

class SrwExclusive
{
public:
    explicit SrwExclusive(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~SrwExclusive() { ReleaseSRWLockExclusive(&lock_); }
    SrwExclusive(const SrwExclusive &) = delete;
    SrwExclusive &operator=(const SrwExclusive &) = delete;

private:
    SRWLOCK &lock_;
};

class SrwShared
{
public:
    explicit SrwShared(SRWLOCK &lock) : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~SrwShared() { ReleaseSRWLockShared(&lock_); }
    SrwShared(const SrwShared &) = delete;
    SrwShared &operator=(const SrwShared &) = delete;

private:
    SRWLOCK &lock_;
};

// A hold whose mode is chosen after construction: shared, exclusive, tried
// (for unload at process exit, when a stopped thread may still hold the
// lock), or released early. Whatever it holds is released on every path out
// of the scope. Used by one thread at a time.
class SrwHold
{
public:
    explicit SrwHold(SRWLOCK &lock) : lock_(lock) {}
    ~SrwHold() { Release(); }
    SrwHold(const SrwHold &) = delete;
    SrwHold &operator=(const SrwHold &) = delete;

    void Shared()
    {
        Release();
        AcquireSRWLockShared(&lock_);
        mode_ = Mode::Shared;
    }
    void Exclusive()
    {
        Release();
        AcquireSRWLockExclusive(&lock_);
        mode_ = Mode::Exclusive;
    }
    bool TryExclusive()
    {
        Release();
        if (TryAcquireSRWLockExclusive(&lock_) == 0)
            return false;
        mode_ = Mode::Exclusive;
        return true;
    }
    // Exclusive; but when the process is ending, only if nobody holds it.
    bool ExclusiveUnlessStuck(bool processExit)
    {
        if (processExit)
            return TryExclusive();
        Exclusive();
        return true;
    }
    bool IsExclusive() const { return mode_ == Mode::Exclusive; }
    void Release()
    {
        if (mode_ == Mode::Shared)
            ReleaseSRWLockShared(&lock_);
        else if (mode_ == Mode::Exclusive)
            ReleaseSRWLockExclusive(&lock_);
        mode_ = Mode::None;
    }

private:
    enum class Mode { None, Shared, Exclusive };
    SRWLOCK &lock_;
    Mode mode_ = Mode::None;
};

} // namespace zq
