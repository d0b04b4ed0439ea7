// HDAServerBase: the per-client `HDAServer` (HDAServer, com/hda_server.h)
// as the server runtime sees it. The runtime keeps the client list of these,
// runs their tick steps in timer mode and asks them to shut down.
#pragma once

#include <windows.h>

namespace zq {

class HDAServerBase
{
public:
    // Adds a reference unless the object's count already reached 0 (it is
    // leaving). Lets the runtime keep a client alive across an outgoing call
    // made without the server lock.
    virtual bool TryAddRef() = 0;
    // Releases a reference taken with TryAddRef (the last one removes the
    // client from the list, exactly as a client's own last Release does).
    virtual void ReleaseRef() = 0;
    // Clears the running flag; called under the server lock when the object
    // leaves the client list. Its worker thread then destroys it.
    virtual void StopRunning() = 0;
    virtual bool IsRunning() const = 0;
    // The per-client tick step: runs the client's pending transactions once
    // (a step that finds another one of the same client running leaves).
    virtual void TickStep() = 0;
    // Calls ShutdownRequest("") on the client's advised IOPCShutdown sink.
    virtual void SendShutdownRequest() = 0;

protected:
    ~HDAServerBase() = default;
};

// Appends a new client to the client list (under the server lock).
void AddClient(HDAServerBase *client);
// Removes the client from the list, stops it and tells the host how many
// clients remain. 1 if it was in the list, else 0.
int RemoveClient(HDAServerBase *client);
// Runs every client's tick step under the server lock (timer mode).
void TickAllClients();
// Sends a shutdown request to every client; returns the number of clients.
long SendShutdownRequests();

} // namespace zq
