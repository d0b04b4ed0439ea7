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

} // namespace zq
