// Installing the host's callbacks: its callback object or one plain callback
// (the exports in api/host_callbacks.cpp). CZqHDACallback's own methods (the
// default callback object, callback.cpp) forward to the plain callbacks.
#pragma once

#include <atomic>

#include "runtime/server_state.h"

namespace zq {

// Stores a plain callback in its setting; a non-null one makes the default
// callback object the one the engines use. Returns 1.
template <typename P> int InstallPlainCallback(std::atomic<P> &setting, P proc)
{
    setting = proc;
    if (proc != nullptr)
        State().settings.callback = &State().defaultCallback;
    return 1;
}

// Makes the host's object the callback object (null: none). Returns 1.
inline int InstallCallbackObject(CZqHDACallback *callback)
{
    State().settings.callback = callback;
    return 1;
}

} // namespace zq
