// The exports of the public header's section "Start-up and control", in its
// order. Each is a thin function over the layer that does the work; the
// host's settings they make live in the server state (HostSettings).
#include "ZqHDAsvr.h"

#include "history/standard_aggregates.h"
#include "runtime/client.h"
#include "runtime/server_state.h"
#include "runtime/startup.h"

using zq::State;

extern "C" int __stdcall InitZqHDAsvr(CLSID clsid, DWORD tickPeriodMs)
{
    return zq::StartServer(clsid, tickPeriodMs);
}

extern "C" int __stdcall InitZqHDAsvr1(const CLSID *clsid, DWORD tickPeriodMs)
{
    if (clsid == nullptr)
        return 0;
    return zq::StartServer(*clsid, tickPeriodMs);
}

extern "C" int __stdcall EnableHDAEventMsgs(ZQHDA_TraceProc proc)
{
    // A null function leaves nothing to call: tracing is then off.
    State().settings.trace = proc;
    return 1;
}

extern "C" int __stdcall EnableHDADisconnectNotification(ZQHDA_DisconnectProc proc)
{
    State().settings.disconnect = proc;
    return 1;
}

extern "C" long __stdcall NumbrHDAClientConnections(void) { return State().clientCount.load(); }

extern "C" long __stdcall RequestHDADisconnect(void) { return zq::SendShutdownRequests(); }

extern "C" int __stdcall SetHDAVendorInfo(const char *vendor)
{
    State().settings.SetVendor(vendor);
    return 1;
}

extern "C" int __stdcall SetHDAServerStatus(DWORD status, const char *text)
{
    return State().settings.SetStatus(status, text) ? 1 : 0;
}

extern "C" int __stdcall SetHDAReadLimits(DWORD maxValuesPerItem, DWORD maxIntervalsPerItem)
{
    State().settings.maxValuesPerItem = maxValuesPerItem;
    State().settings.maxIntervalsPerItem = maxIntervalsPerItem;
    return 1;
}

extern "C" int __stdcall SetHDAQualityStyle(int style)
{
    if (style != 0 && style != 1)
        return -1;
    return static_cast<int>(State().settings.qualityStyle.exchange(style));
}

// Any thread, any time: a single atomic exchange. A request checks the
// setting once when it arrives; subscriptions already made run on.
extern "C" int __stdcall EnableHDAAdviseProcessed(int enable)
{
    return State().settings.adviseProcessed.exchange(enable != 0 ? 1 : 0);
}

extern "C" int __stdcall EnableHDAStandardAggregates(int on)
{
    return State().settings.standardAggregates.exchange(on != 0 ? 1 : 0);
}

extern "C" int __stdcall SetHDAAggregateConfiguration(int treatUncertainAsBad, int percentDataBad,
                                                      int percentDataGood,
                                                      int useSlopedExtrapolation)
{
    return zq::SetAggregateConfiguration(treatUncertainAsBad, percentDataBad, percentDataGood,
                                         useSlopedExtrapolation)
               ? 1
               : 0;
}
