// What the cross-process benchmark's client and its two servers share: the
// class IDs, the item, and the shape of the answer (kValues doubles with
// time stamps and qualities per ReadRaw).
#pragma once

#include <windows.h>
#include <objbase.h>

#include "opchda.h"

namespace zqbench {

// {8D2F4A61-3B7C-4E95-A1D8-5C6E7F809A12}: a server built on ZqHDAsvr.dll.
inline constexpr CLSID kLibraryServerClsid = {
    0x8d2f4a61, 0x3b7c, 0x4e95, {0xa1, 0xd8, 0x5c, 0x6e, 0x7f, 0x80, 0x9a, 0x12}};
// {8D2F4A62-3B7C-4E95-A1D8-5C6E7F809A12}: the bare server, hand-written on
// the same generated interfaces.
inline constexpr CLSID kBareServerClsid = {
    0x8d2f4a62, 0x3b7c, 0x4e95, {0xa1, 0xd8, 0x5c, 0x6e, 0x7f, 0x80, 0x9a, 0x12}};

inline constexpr wchar_t kLibraryServerExe[] = L"bench_zq_server.exe";
inline constexpr wchar_t kBareServerExe[] = L"bench_bare_server.exe";

inline constexpr char kItemId[] = "Bench.Value";
inline constexpr int kValues = 10000;
// The value of entry i (its time stamp is start + i ticks), and the quality
// of every value, as the library server's host gives them.
inline double ValueAt(ULONGLONG time) { return static_cast<double>(static_cast<DWORD>(time)); }
inline constexpr DWORD kQuality = 0xC0;

// The items of the server's --ticking mode: kAdviseItemPrefix0 .. 9.
inline constexpr char kAdviseItemPrefix[] = "Bench.Tag";
inline constexpr int kAdviseItems = 10;

// The server handle of the benchmark's item (client handle 7); false when
// the server has none.
inline bool BenchItemHandle(IOPCHDA_Server *server, OPCHANDLE *handle)
{
    wchar_t id[sizeof kItemId];
    for (size_t i = 0; i < sizeof kItemId; ++i)
        id[i] = static_cast<wchar_t>(kItemId[i]);
    LPWSTR ids[] = {id};
    OPCHANDLE client = 7;
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    bool ok = server->GetItemHandles(1, ids, &client, &handles, &errors) == S_OK && handles != nullptr;
    if (ok)
        *handle = handles[0];
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    return ok;
}

// Frees the results of a one-item read the way a client does.
inline void FreeReadResult(OPCHDA_ITEM *items, HRESULT *errors)
{
    if (items != nullptr) {
        for (DWORD i = 0; i < items[0].dwCount; ++i)
            VariantClear(&items[0].pvDataValues[i]);
        CoTaskMemFree(items[0].pftTimeStamps);
        CoTaskMemFree(items[0].pdwQualities);
        CoTaskMemFree(items[0].pvDataValues);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
}

// However the client behaves, a server process ends after this long (the
// memory soak's servers, started with --soak: after two hours).
inline constexpr DWORD kServerLifetimeMs = 300000;
inline constexpr DWORD kSoakServerLifetimeMs = 7200000;

} // namespace zqbench
