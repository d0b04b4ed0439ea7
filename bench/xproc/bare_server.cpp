// The baseline of the cross-process benchmark: the least a server can do to
// answer GetItemHandles and ReadRaw over the same generated interfaces and
// proxy/stub DLL. One object, no checks beyond what the answer needs; the
// ReadRaw answer has the same shape as the library server's (kValues
// doubles with time stamps and qualities).
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "opchda.h"
#include "xproc_bench.h"

namespace {

using namespace zqbench;

HANDLE g_lastReleased = CreateEventW(nullptr, TRUE, FALSE, nullptr);
volatile LONG g_objects = 0;
constexpr OPCHANDLE kServerHandle = 1;

template <class T> T *TaskArray(size_t n)
{
    return static_cast<T *>(CoTaskMemAlloc(n * sizeof(T)));
}

class BareServer final : public IOPCHDA_Server, public IOPCHDA_SyncRead
{
public:
    BareServer() { InterlockedIncrement(&g_objects); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IOPCHDA_Server)
            *ppv = static_cast<IOPCHDA_Server *>(this);
        else if (riid == IID_IOPCHDA_SyncRead)
            *ppv = static_cast<IOPCHDA_SyncRead *>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
            if (InterlockedDecrement(&g_objects) == 0)
                SetEvent(g_lastReleased);
        }
        return left;
    }

    // IOPCHDA_Server: only GetItemHandles answers.
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD *, DWORD **, LPWSTR **, LPWSTR **, VARTYPE **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD *, DWORD **, LPWSTR **, LPWSTR **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS *, FILETIME **, FILETIME **, WORD *, WORD *,
                                                 WORD *, DWORD *, LPWSTR *, LPWSTR *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD count, LPWSTR *, OPCHANDLE *, OPCHANDLE **handles,
                                             HRESULT **errors) override
    {
        *handles = TaskArray<OPCHANDLE>(count);
        *errors = TaskArray<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            (*handles)[i] = kServerHandle;
            (*errors)[i] = S_OK;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD, OPCHANDLE *, HRESULT **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD, LPWSTR *, HRESULT **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD, DWORD *, OPCHDA_OPERATORCODES *, VARIANT *, IOPCHDA_Browser **,
                                           HRESULT **) override
    {
        return E_NOTIMPL;
    }

    // IOPCHDA_SyncRead: ReadRaw only.
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME *start, OPCHDA_TIME *, DWORD numValues, BOOL, DWORD count,
                                      OPCHANDLE *, OPCHDA_ITEM **items, HRESULT **errors) override
    {
        const DWORD n = numValues != 0 && numValues < static_cast<DWORD>(kValues) ? numValues : kValues;
        *items = TaskArray<OPCHDA_ITEM>(count);
        *errors = TaskArray<HRESULT>(count);
        ULONGLONG t0 = (ULONGLONG(start->ftTime.dwHighDateTime) << 32) | start->ftTime.dwLowDateTime;
        for (DWORD k = 0; k < count; ++k) {
            OPCHDA_ITEM &item = (*items)[k];
            std::memset(&item, 0, sizeof item);
            item.dwCount = n;
            item.pftTimeStamps = TaskArray<FILETIME>(n);
            item.pdwQualities = TaskArray<DWORD>(n);
            item.pvDataValues = TaskArray<VARIANT>(n);
            for (DWORD i = 0; i < n; ++i) {
                ULONGLONG t = t0 + i;
                item.pftTimeStamps[i].dwLowDateTime = static_cast<DWORD>(t);
                item.pftTimeStamps[i].dwHighDateTime = static_cast<DWORD>(t >> 32);
                item.pdwQualities[i] = kQuality;
                VariantInit(&item.pvDataValues[i]);
                item.pvDataValues[i].vt = VT_R8;
                item.pvDataValues[i].dblVal = ValueAt(t);
            }
            (*errors)[k] = S_OK;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME *, OPCHDA_TIME *, FILETIME, DWORD, OPCHANDLE *, DWORD *,
                                            OPCHDA_ITEM **, HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD, FILETIME *, DWORD, OPCHANDLE *, OPCHDA_ITEM **, HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME *, OPCHDA_TIME *, DWORD, DWORD, OPCHANDLE *,
                                           OPCHDA_MODIFIEDITEM **, HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME *, OPCHDA_TIME *, OPCHANDLE, DWORD, DWORD *,
                                            OPCHDA_ATTRIBUTE **, HRESULT **) override
    {
        return E_NOTIMPL;
    }

private:
    volatile LONG refs_ = 1;
};

class Factory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *server = new BareServer();
        HRESULT hr = server->QueryInterface(riid, ppv);
        server->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

} // namespace

int main(int argc, char **argv)
{
    const bool soak = argc > 1 && std::strcmp(argv[1], "--soak") == 0;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    DWORD cookie = 0;
    int status = 3;
    if (SUCCEEDED(CoRegisterClassObject(kBareServerClsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                        &cookie))) {
        status = WaitForSingleObject(g_lastReleased, soak ? kSoakServerLifetimeMs : kServerLifetimeMs) == WAIT_OBJECT_0 ? 0 : 4;
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return status;
}
