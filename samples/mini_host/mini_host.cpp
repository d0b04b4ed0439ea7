// A small host of ZqHDAsvr.dll: it defines a few items, attributes and
// aggregates, starts the OPC HDA server, and then connects to its own server
// in-process through COM (CoCreateInstance with CLSCTX_LOCAL_SERVER reaches
// the class object the library registered) to show what a client sees (an
// error text, the historian status, item handles, a flat listing of the
// address space) and what the library reports on its trace channel.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ZqHDAsvr.h"
#include "opccomn.h"
#include "opchda.h"

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

std::string Utc(const FILETIME *t)
{
    SYSTEMTIME st;
    if (t == nullptr || !FileTimeToSystemTime(t, &st))
        return "?";
    char text[40];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay,
             st.wHour, st.wMinute, st.wSecond);
    return text;
}

void ShowStatus(IOPCHDA_Server *hda)
{
    OPCHDA_SERVERSTATUS status;
    FILETIME *now = nullptr, *started = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD maxValues = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    HRESULT hr = hda->GetHistorianStatus(&status, &now, &started, &major, &minor, &build,
                                         &maxValues, &text, &vendor);
    printf("  GetHistorianStatus: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (hr == S_OK) {
        printf("  status %d (1 = up), version %u.%u build %u, max return values %lu\n",
               static_cast<int>(status), major, minor, build, static_cast<unsigned long>(maxValues));
        printf("  vendor \"%s\", started %s, now %s\n", Narrow(vendor).c_str(),
               Utc(started).c_str(), Utc(now).c_str());
    }
    CoTaskMemFree(now);
    CoTaskMemFree(started);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
}

// Obtains handles for the items and one unknown ID, then releases them.
void ShowHandles(IOPCHDA_Server *hda, const char *const *items, DWORD count)
{
    std::wstring ids[4];
    LPWSTR idPointers[4];
    OPCHANDLE clientHandles[4];
    for (DWORD i = 0; i < count + 1; ++i) {
        const char *id = i < count ? items[i] : "Plant.Nowhere";
        ids[i].assign(id, id + strlen(id));
        idPointers[i] = &ids[i][0];
        clientHandles[i] = 100 + i;
    }
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = hda->GetItemHandles(count + 1, idPointers, clientHandles, &handles, &errors);
    printf("  GetItemHandles: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr))
        return;
    OPCHANDLE obtained[4];
    DWORD n = 0;
    for (DWORD i = 0; i < count + 1; ++i) {
        printf("  %-26s server handle %lu, result 0x%08lX\n", Narrow(idPointers[i]).c_str(),
               static_cast<unsigned long>(handles[i]), static_cast<unsigned long>(errors[i]));
        if (errors[i] == S_OK)
            obtained[n++] = handles[i];
    }
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    if (n > 0 && SUCCEEDED(hda->ReleaseItemHandles(n, obtained, &errors))) {
        printf("  ReleaseItemHandles of %lu handles: first result 0x%08lX\n",
               static_cast<unsigned long>(n), static_cast<unsigned long>(errors[0]));
        CoTaskMemFree(errors);
    }
}

// The flat listing of the whole tree, through a browser.
void ShowFlatListing(IOPCHDA_Server *hda)
{
    IOPCHDA_Browser *browser = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = hda->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &errors);
    printf("  CreateBrowse: 0x%08lX\n", static_cast<unsigned long>(hr));
    CoTaskMemFree(errors);
    if (FAILED(hr))
        return;
    IEnumString *names = nullptr;
    if (SUCCEEDED(browser->GetEnum(OPCHDA_FLAT, &names))) {
        LPOLESTR name = nullptr;
        ULONG got = 0;
        while (names->Next(1, &name, &got) == S_OK && got == 1) {
            printf("  flat listing: %s\n", Narrow(name).c_str());
            CoTaskMemFree(name);
        }
        names->Release();
    }
    browser->Release();
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

    IOPCHDA_Server *hda = nullptr;
    if (SUCCEEDED(server->QueryInterface(IID_IOPCHDA_Server, reinterpret_cast<void **>(&hda)))) {
        printf("4. Historian status\n");
        ShowStatus(hda);
        printf("5. Item handles\n");
        ShowHandles(hda, items, 3);
        printf("6. Browsing the address space\n");
        ShowFlatListing(hda);
        hda->Release();
    }

    printf("7. Disconnecting\n");
    server->Release();
    printf("  clients: %ld\n", NumbrHDAClientConnections());
    printf("done\n");
    return 0;
}
