#include <olectl.h>

#include <cwchar>

#include "canned_data.h"
#include "hda_server.h"
#include "lifetime.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

HRESULT STDMETHODCALLTYPE HdaServer::SetLocaleID(LCID dwLcid)
{
    for (LCID known : kLocales)
        if (known == dwLcid) {
            InterlockedExchange(&locale_, static_cast<LONG>(dwLcid));
            return S_OK;
        }
    return E_INVALIDARG;
}

HRESULT STDMETHODCALLTYPE HdaServer::GetLocaleID(LCID *pdwLcid)
{
    *pdwLcid = static_cast<LCID>(locale_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::QueryAvailableLocaleIDs(DWORD *pdwCount, LCID **pdwLcid)
{
    LCID *ids = TaskArray<LCID>(kLocaleCount);
    if (!ids) {
        *pdwCount = 0;
        *pdwLcid = nullptr;
        return E_OUTOFMEMORY;
    }
    for (DWORD i = 0; i < kLocaleCount; ++i)
        ids[i] = kLocales[i];
    *pdwCount = kLocaleCount;
    *pdwLcid = ids;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::GetErrorString(HRESULT dwError, LPWSTR *ppString)
{
    *ppString = nullptr;
    if (dwError != kKnownError)
        return E_INVALIDARG;
    *ppString = TaskString(kKnownErrorText);
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

namespace {

// Calls every data callback once with non-empty arrays.
void FireDataCallbacks(IOPCHDA_DataCallback *sink)
{
    OPCHDA_ITEM items[2] = {};
    HRESULT itemErrors[2] = {S_OK, S_OK};
    if (FillDoubleItem(items[0]) && FillTextItem(items[1])) {
        sink->OnReadComplete(kReadCompleteTid, S_OK, 2, items, itemErrors);

        OPCHANDLE clients[2] = {kClientHandles[0], kClientHandles[1]};
        HRESULT updateErrors[2] = {kUpdateErrors[0], kUpdateErrors[1]};
        sink->OnUpdateComplete(kUpdateCompleteTid, S_FALSE, 2, clients, updateErrors);

        OPCHDA_ATTRIBUTE attributes[2] = {};
        if (FillDescriptionAttribute(attributes[0]) && FillMaximumAttribute(attributes[1]))
            sink->OnReadAttributeComplete(kAttributeCompleteTid, S_OK, kClientHandles[0], 2, attributes,
                                          itemErrors);
        FreeAttribute(attributes[0]);
        FreeAttribute(attributes[1]);

        sink->OnDataChange(kDataChangeTid, S_OK, 1, items, itemErrors);
    }
    FreeItem(items[0]);
    FreeItem(items[1]);
}

struct FireJob
{
    IUnknown *sink;  // the connection's interface, one reference
    std::function<void(IUnknown *)> call;
};

DWORD WINAPI FireThread(void *param)
{
    auto *job = static_cast<FireJob *>(param);
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        job->call(job->sink);
        CoUninitialize();
    }
    job->sink->Release();
    delete job;
    ObjectDestroyed();
    return 0;
}

}  // namespace

HRESULT CallFromWorker(IUnknown *sink, std::function<void(IUnknown *)> call)
{
    if (!sink)
        return CONNECT_E_NOCONNECTION;
    ObjectCreated();  // the thread keeps the process alive until it is done
    auto *job = new FireJob{sink, std::move(call)};
    HANDLE thread = CreateThread(nullptr, 0, FireThread, job, 0, nullptr);
    if (!thread) {
        sink->Release();
        delete job;
        ObjectDestroyed();
        return E_FAIL;
    }
    CloseHandle(thread);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::SetClientName(LPCWSTR szName)
{
    if (wcscmp(szName, kFireShutdown) == 0)
        return CallFromWorker(shutdown_.Sink(), [](IUnknown *sink) {
            static_cast<IOPCShutdown *>(sink)->ShutdownRequest(kShutdownReason);
        });
    if (wcscmp(szName, kFireDataCallback) == 0)
        return CallFromWorker(data_.Sink(), [](IUnknown *sink) {
            FireDataCallbacks(static_cast<IOPCHDA_DataCallback *>(sink));
        });
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::EnumConnectionPoints(IEnumConnectionPoints **ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE HdaServer::FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP)
{
    if (!ppCP)
        return E_POINTER;
    if (riid == IID_IOPCShutdown)
        *ppCP = &shutdown_;
    else if (riid == IID_IOPCHDA_DataCallback)
        *ppCP = &data_;
    else {
        *ppCP = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    (*ppCP)->AddRef();
    return S_OK;
}

}  // namespace xserver
