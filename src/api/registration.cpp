// The exports of the public header's section "Registration", in its order.
// The "1" forms take the class identifier by pointer (null: 0).
#include "ZqHDAsvr.h"

#include "runtime/registry.h"

extern "C" int __stdcall HDAUpdateRegistry(CLSID clsid, const char *progId,
                                           const char *description, const char *serverPath)
{
    return zq::WriteRegistration(clsid, progId, description, serverPath);
}

extern "C" int __stdcall HDAUpdateRegistry1(const CLSID *clsid, const char *progId,
                                            const char *description, const char *serverPath)
{
    if (clsid == nullptr)
        return 0;
    return zq::WriteRegistration(*clsid, progId, description, serverPath);
}

extern "C" int __stdcall HDAAddLocalServiceKeysToRegistry(const char *serviceName)
{
    return zq::WriteServiceKeys(serviceName);
}

extern "C" int __stdcall UnregisterHDAServer(CLSID clsid, const char *progId)
{
    return zq::RemoveRegistration(clsid, progId);
}

extern "C" int __stdcall UnregisterHDAServer1(const CLSID *clsid, const char *progId)
{
    if (clsid == nullptr)
        return 0;
    return zq::RemoveRegistration(*clsid, progId);
}
