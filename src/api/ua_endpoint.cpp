// The exports of the public header's section "OPC UA endpoint".
#include "ZqHDAsvr.h"

#include "runtime/server_state.h"
#include "ua/ua_endpoint.h"

extern "C" long __stdcall StartHDAUaEndpoint(const char *url, int flags)
{
    return zq::StartUaEndpoint(url, flags);
}

extern "C" long __stdcall StopHDAUaEndpoint(void) { return zq::StopUaEndpoint(); }

extern "C" int __stdcall SetHDAUaUserCheck(ZQHDA_UaUserCheckProc check)
{
    zq::State().settings.uaUserCheck = check;
    return 1;
}
