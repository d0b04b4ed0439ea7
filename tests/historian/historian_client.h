// A COM client's side of the historian tests: an item's server handle and
// the time stamps of a raw read, each asserting the call's own result.
#pragma once

#include <gtest/gtest.h>

#include <objbase.h>

#include <vector>

#include "hda_values.h"
#include "opchda.h"

namespace htest {

// The server handle of one item ID (0 when refused).
inline OPCHANDLE ItemHandle(IOPCHDA_Server *server, const wchar_t *id, OPCHANDLE client)
{
    LPWSTR ids[] = {const_cast<wchar_t *>(id)};
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    EXPECT_EQ(server->GetItemHandles(1, ids, &client, &handles, &errors), S_OK);
    OPCHANDLE handle = handles != nullptr ? handles[0] : 0;
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    return handle;
}

// The time stamps of a raw read of one item from start to end (absolute,
// no bounds), and the client handle the result carries.
inline std::vector<uint64_t> RawTimes(IOPCHDA_Server *server, OPCHANDLE handle, uint64_t start,
                                      uint64_t end, OPCHANDLE *client = nullptr)
{
    std::vector<uint64_t> times;
    IOPCHDA_SyncRead *read = nullptr;
    EXPECT_EQ(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read)),
              S_OK);
    if (read == nullptr || handle == 0)
        return times;
    // The times are [in, out]: no text the proxy could write back into.
    OPCHDA_TIME from{FALSE, nullptr, zqtest::Ft(start)}, to{FALSE, nullptr, zqtest::Ft(end)};
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    EXPECT_EQ(read->ReadRaw(&from, &to, 0, FALSE, 1, &handle, &items, &errors), S_OK);
    if (items != nullptr) {
        times = zqtest::ValuesOf(items[0]).times;
        if (client != nullptr)
            *client = items[0].hClient;
        zqtest::FreeItems(items, 1);
    }
    CoTaskMemFree(errors);
    read->Release();
    return times;
}

} // namespace htest
