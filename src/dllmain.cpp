// ZqHDAsvr.dll entry point: module load and unload.
#include "module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        return zq::ModuleLoad(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        // reserved is non-null when the process is ending.
        zq::ModuleUnload(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}
