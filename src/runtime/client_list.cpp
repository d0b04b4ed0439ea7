// The client list: adding and removing clients (with the host's disconnect
// notification), the timer-mode tick of all clients and the shutdown
// requests.
#include "runtime/client.h"
#include "runtime/server_state.h"
#include "runtime/trace.h"

#include <algorithm>
#include <atomic>

namespace zq {

namespace {

struct ServerLock
{
    ServerLock() { EnterCriticalSection(&State().serverLock); }
    ~ServerLock() { LeaveCriticalSection(&State().serverLock); }
    ServerLock(const ServerLock &) = delete;
    ServerLock &operator=(const ServerLock &) = delete;
};
} // namespace

void AddClient(HDAServerBase *client)
{
    ServerLock lock;
    ServerState &s = State();
    s.clients.push_back(client);
    s.clientCount = static_cast<LONG>(s.clients.size());
}

int RemoveClient(HDAServerBase *client)
{
    LONG remaining;
    {
        ServerLock lock;
        ServerState &s = State();
        auto it = std::find(s.clients.begin(), s.clients.end(), client);
        if (it == s.clients.end())
            return 0;
        s.clients.erase(it);
        s.clientCount = static_cast<LONG>(s.clients.size());
        remaining = s.clientCount;
        client->StopRunning();
    }
    // The host is told after the lock is left; the object may already be
    // gone (its worker destroys it), so it is not touched any more.
    ZQHDA_DisconnectProc fn = State().settings.disconnect.load();
    if (fn != nullptr)
        fn(remaining);
    return 1;
}

void TickAllClients()
{
    ServerLock lock;
    // A tick step may release a client (the last Release removes it from the
    // list on this same thread, the lock being recursive), so the steps run
    // over a copy of the list. A removed object is destroyed only by its
    // worker thread, never during this walk.
    std::vector<HDAServerBase *> snapshot = State().clients;
    for (HDAServerBase *c : snapshot) {
        if (c->IsRunning())
            c->TickStep();
    }
}

// The walk holds a reference on each client instead of holding the server
// lock across the outgoing calls: a client's answer may release its server
// object, which needs the lock on another thread.
long SendShutdownRequests()
{
    std::vector<HDAServerBase *> held;
    long count;
    {
        ServerLock lock;
        const auto &clients = State().clients;
        count = static_cast<long>(clients.size());
        held.reserve(clients.size());
        for (HDAServerBase *c : clients) {
            if (c->TryAddRef())
                held.push_back(c);
        }
    }
    for (HDAServerBase *c : held)
        c->SendShutdownRequest();
    for (HDAServerBase *c : held)
        c->ReleaseRef();
    return count;
}

} // namespace zq
