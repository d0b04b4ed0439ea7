// A small host of ZqHDAsvr.dll: it defines a few items, attributes and
// aggregates, starts the OPC HDA server, and then connects to its own server
// in-process through COM (CoCreateInstance with CLSCTX_LOCAL_SERVER reaches
// the class object the library registered) to show what a client sees and
// what the library reports on its trace channel.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "ZqHDAsvr.h"
#include "opccomn.h"

namespace {

const CLSID kClsid = {0x2c9d8f40, 0x5b61, 0x4e7a, {0x8c, 0x13, 0x6a, 0x0f, 0x91, 0x3e, 0x72, 0xd5}};

void __stdcall PrintTrace(char *text) { printf("  trace: %s\n", text); }
void __stdcall PrintDisconnect(long remaining) { printf("  host: a client left, %ld remain\n", remaining); }

std::string Narrow(const wchar_t *w)
{
    std::string s;
    for (; w != nullptr && *w != 0; ++w)
        s += *w < 128 ? static_cast<char>(*w) : '?';
    return s;
}

} // namespace

int main()
{
    printf("ZqHDAsvr mini host\n");
    printf("1. Defining the address space\n");
    const char *items[] = {"Plant.Area1.Temperature", "Plant.Area1.Pressure", "Plant.Area2.Flow"};
    for (const char *id : items) {
        void *h = DefineHDAItem(id);
        printf("  item %-26s handle %p\n", id, h);
    }
    printf("  defining %s again gives %p (already defined)\n", items[0], DefineHDAItem(items[0]));
    DefineHDAAttribute(OPCHDA_DESCRIPTION, "Description", "Item description", VT_BSTR, 0);
    DefineHDAAggregate(OPCHDA_AVERAGE, "Average", "Average over the interval");

    printf("2. Starting the server (tick 100 ms)\n");
    EnableHDAEventMsgs(PrintTrace);
    EnableHDADisconnectNotification(PrintDisconnect);
    int started = InitZqHDAsvr(kClsid, 100);
    printf("  InitZqHDAsvr: %d, clients: %ld\n", started, NumbrHDAClientConnections());
    if (!started)
        return 1;

    printf("3. Connecting to the server as an in-process client\n");
    IUnknown *server = nullptr;
    HRESULT hr = CoCreateInstance(kClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                  reinterpret_cast<void **>(&server));
    printf("  CoCreateInstance: 0x%08lX, clients: %ld\n", static_cast<unsigned long>(hr),
           NumbrHDAClientConnections());
    if (FAILED(hr))
        return 1;

    IOPCCommon *common = nullptr;
    if (SUCCEEDED(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common)))) {
        common->SetClientName(L"mini host");
        LPWSTR text = nullptr;
        if (SUCCEEDED(common->GetErrorString(static_cast<HRESULT>(0xC0040007), &text))) {
            printf("  GetErrorString(0xC0040007): %s\n", Narrow(text).c_str());
            CoTaskMemFree(text);
        }
        common->Release();
    }

    printf("4. Disconnecting\n");
    server->Release();
    printf("  clients: %ld\n", NumbrHDAClientConnections());
    printf("done\n");
    return 0;
}
