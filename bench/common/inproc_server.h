// The library linked into a benchmark program and started as an in-process
// COM server: clients are created through COM as a client would create
// them, and get the objects themselves (no marshalling).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "ZqHDAsvr.h"
#include "opchda.h"

namespace zqbench {

// Module load, COM (multithreaded apartment), InitZqHDAsvr with the tick
// period (by default so long that it never fires during a measurement).
// False on failure.
bool StartInProcessServer(DWORD tickMs = 100000000);
// The arguments (bench_util.h), then StartInProcessServer; says why not.
bool StartBenchmark(int argc, char **argv, DWORD tickMs = 100000000);

HRESULT CreateClientObject(REFIID iid, void **out);

// A new client's interface, or null.
template <typename T> T *CreateClient(REFIID iid)
{
    void *p = nullptr;
    if (FAILED(CreateClientObject(iid, &p)))
        return nullptr;
    return static_cast<T *>(p);
}

// Wide copies of item IDs and the LPWSTR array the server methods take.
class WideIdList
{
public:
    explicit WideIdList(const std::vector<std::string> &ids);
    LPWSTR *get() { return pointers_.data(); }
    DWORD size() const { return static_cast<DWORD>(pointers_.size()); }

private:
    std::vector<std::wstring> text_;
    std::vector<LPWSTR> pointers_;
};

std::wstring Wide(const std::string &text);

// Frees an item array as a client must (values cleared, arrays freed).
void FreeItems(OPCHDA_ITEM *items, DWORD count);

} // namespace zqbench
