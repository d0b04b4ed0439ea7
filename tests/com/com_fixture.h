// In-process COM tests: the library is started once per test program with a
// tick period so long that the tick thread never fires during a test; tests
// drive the tick themselves with Tick(), which makes destruction timing
// deterministic.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include "ZqHDAsvr.h"
#include "com/hda_server.h"
#include "opccomn.h"
#include "opchda.h"
#include "trace_capture.h"

namespace zqtest {

extern const CLSID kTestClsid;

// Creates a client's HDAServer through COM, as a client would.
HRESULT CreateServer(REFIID iid, void **out);

// Ticks until pred() holds or timeoutMs passes; the result
// of pred() at the end.
bool TickUntil(bool (*pred)(), DWORD timeoutMs = 3000);

// Waits (ticking) until no server object of this process is alive.
bool AllServersDestroyed(DWORD timeoutMs = 3000);

// A COM object that implements the given interfaces as no-ops and counts
// its references and the calls it gets.
class SinkObject : public IOPCShutdown
{
public:
    explicit SinkObject(bool shutdownInterface = true) : shutdown_(shutdownInterface) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) override;

    LONG refs = 1;
    LONG shutdownCalls = 0;
    std::wstring lastReason = L"unset";

private:
    bool shutdown_;
};

} // namespace zqtest
