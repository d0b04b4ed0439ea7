// The OPC UA endpoint: an open62541 server in a thread of its own that
// serves the host's items and history to OPC UA clients, while the COM
// server serves classic ones. Opt-in: nothing of it exists (no socket, no
// thread) until the host starts it.
//
// One endpoint per process. Start and Stop may be called from any thread;
// a lock makes them take turns. The endpoint's thread holds a reference on
// the library's module, so that the DLL stays loaded until the thread has
// ended even when the host forgets to stop it.
#pragma once

#include <windows.h>

namespace zq {

// The URL used when the host gives none: loopback only.
constexpr char kDefaultUaUrl[] = "opc.tcp://127.0.0.1:4840";

// StartHDAUaEndpoint's flags.
constexpr int kUaNoAnonymous = 0x1; // ZQHDA_UA_NO_ANONYMOUS

// S_OK once it listens; E_INVALIDARG for a URL that is not
// opc.tcp://host:port or unknown flags; HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
// when an endpoint runs already; E_FAIL when it cannot listen there (the
// port taken, an address not of this machine); E_OUTOFMEMORY.
HRESULT StartUaEndpoint(const char *url, int flags);
// S_OK once the endpoint has closed its sessions and its thread has ended;
// S_FALSE when none runs.
HRESULT StopUaEndpoint();
bool UaEndpointRunning();

} // namespace zq
