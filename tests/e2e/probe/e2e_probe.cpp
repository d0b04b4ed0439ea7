// A client process for the end-to-end tests that must lose a client: it
// connects to the sample historian, advises a data sink, starts a raw
// advise, says "ready" and then waits to be killed (at most two minutes).
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "historian_identity.h"
#include "opchda.h"
#include "quiet_data_callback.h"

int main()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IOPCHDA_Server *server = nullptr;
    if (FAILED(CoCreateInstance(historian::kHistorianClsid, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IOPCHDA_Server, reinterpret_cast<void **>(&server))))
        return 2;
    IConnectionPointContainer *cpc = nullptr;
    IConnectionPoint *point = nullptr;
    IOPCHDA_AsyncRead *async = nullptr;
    static UncountedDataCallback sink;
    DWORD cookie = 0, cancel = 0;
    wchar_t name[] = L"Plant.Line1.Flow";
    LPWSTR ids[] = {name};
    OPCHANDLE client = 1, *handles = nullptr;
    HRESULT *errors = nullptr;
    if (FAILED(server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc))) ||
        FAILED(cpc->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point)) ||
        FAILED(point->Advise(&sink, &cookie)) ||
        FAILED(server->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async))) ||
        FAILED(server->GetItemHandles(1, ids, &client, &handles, &errors)))
        return 3;
    OPCHDA_TIME start{FALSE, nullptr, FILETIME{}};
    FILETIME interval{600000000, 0};
    HRESULT *adviseErrors = nullptr;
    if (FAILED(async->AdviseRaw(1, &start, interval, 1, handles, &cancel, &adviseErrors)))
        return 4;
    printf("ready\n");
    fflush(stdout);
    Sleep(120000);
    return 0;
}
