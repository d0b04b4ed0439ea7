#include "inproc_server.h"

#include <cstdio>

#include "bench_util.h"
#include "module.h"
#include "runtime/server_state.h"

namespace zqbench {

namespace {
// {5E1B7C32-8A0D-4F6B-9C2E-7D3F1A4B6C80}: the benchmarks' own class.
const CLSID kBenchClsid = {0x5e1b7c32, 0x8a0d, 0x4f6b, {0x9c, 0x2e, 0x7d, 0x3f, 0x1a, 0x4b, 0x6c, 0x80}};
} // namespace

bool StartInProcessServer(DWORD tickMs)
{
    if (!zq::ModuleLoad(GetModuleHandleW(nullptr)))
        return false;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return false;
    return InitZqHDAsvr(kBenchClsid, tickMs) == 1;
}

bool StartBenchmark(int argc, char **argv, DWORD tickMs)
{
    ParseArguments(argc, argv);
    if (StartInProcessServer(tickMs))
        return true;
    std::fprintf(stderr, "the in-process server did not start\n");
    return false;
}

HRESULT CreateClientObject(REFIID iid, void **out)
{
    return CoCreateInstance(kBenchClsid, nullptr, CLSCTX_LOCAL_SERVER, iid, out);
}

std::wstring Wide(const std::string &text) { return std::wstring(text.begin(), text.end()); }

WideIdList::WideIdList(const std::vector<std::string> &ids)
{
    text_.reserve(ids.size());
    for (const auto &id : ids)
        text_.push_back(Wide(id));
    pointers_.reserve(ids.size());
    for (auto &t : text_)
        pointers_.push_back(&t[0]);
}

void FreeItems(OPCHDA_ITEM *items, DWORD count)
{
    if (items == nullptr)
        return;
    for (DWORD i = 0; i < count; ++i) {
        for (DWORD k = 0; items[i].pvDataValues != nullptr && k < items[i].dwCount; ++k)
            VariantClear(&items[i].pvDataValues[k]);
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
    }
    CoTaskMemFree(items);
}

} // namespace zqbench
