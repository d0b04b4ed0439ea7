// Handle entries as GetItemHandles makes them, for tests that fill a
// client's handle list directly.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/handle_list.h"
#include "history/item_check.h"

namespace zqtest {

// The item a test's entry names for a server handle: the handle's value.
inline void *ItemOfServerHandle(OPCHANDLE serverHandle)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(serverHandle));
}

// An entry naming ItemOfServerHandle(serverHandle); insert it under that
// server handle.
inline zq::HandleEntry MakeEntry(OPCHANDLE serverHandle, OPCHANDLE clientHandle,
                                 BOOL canRead = TRUE, BOOL canWrite = TRUE,
                                 std::string user = "Unknown")
{
    zq::HandleEntry e;
    e.clientHandle = clientHandle;
    e.itemHandle = ItemOfServerHandle(serverHandle);
    e.readAllowed = canRead;
    e.writeAllowed = canWrite;
    e.userName = std::move(user);
    return e;
}

} // namespace zqtest
