// Handle entries as GetItemHandles makes them, for tests that fill a
// client's handle list directly.
#pragma once

#include <string>

#include "com/handle_list.h"
#include "history/item_check.h"

namespace zqtest {

inline zq::HandleEntry MakeEntry(OPCHANDLE serverHandle, OPCHANDLE clientHandle,
                                 BOOL canRead = TRUE, BOOL canWrite = TRUE,
                                 std::string user = "Unknown")
{
    zq::HandleEntry e;
    e.clientHandle = clientHandle;
    e.itemHandle = zq::ItemHandleOf(serverHandle);
    e.readAllowed = canRead;
    e.writeAllowed = canWrite;
    e.userName = std::move(user);
    return e;
}

} // namespace zqtest
