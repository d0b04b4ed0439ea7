// The test server as the client sees it: its LocalServer32 registration in
// the prefix's registry and its process.
#pragma once

#include <vector>

#include "xproc_canned.h"

namespace xclient {

// Writes HKCR\CLSID\{clsid}\LocalServer32 in the registry view of this
// process's bitness: the full path
// of xproc_server.exe (next to this executable, quoted) and the arguments.
HRESULT RegisterServer(REFCLSID clsid, const wchar_t *arguments);
// Removes HKCR\CLSID\{clsid} again.
HRESULT UnregisterServer(REFCLSID clsid);

// Process IDs of the running test servers.
std::vector<DWORD> ServerProcesses();
// Waits until no test server runs; false on timeout.
bool WaitForNoServer(DWORD timeoutMs);

// Minimal owning interface pointer.
template <class T>
class ComRef
{
public:
    ComRef() = default;
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    ~ComRef() { Reset(); }

    T *Get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Address for an [out] parameter; releases what was held.
    T **Put()
    {
        Reset();
        return &p_;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }
    void Reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T *p_ = nullptr;
};

}  // namespace xclient
