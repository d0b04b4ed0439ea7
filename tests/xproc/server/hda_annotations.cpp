// IOPCHDA_SyncAnnotations and IOPCHDA_AsyncAnnotations of the test server:
// reads answer kAnnotations, inserts compare what arrived with kAnnotations
// and report a mismatch per item, asynchronous results go to the advised
// IOPCHDA_DataCallback from a worker thread.
#include <vector>

#include "canned_data.h"
#include "hda_server.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

namespace {

// One error per item: OPC_E_INVALIDHANDLE for an unknown handle, then
// kAnnotationMismatch unless the item's time stamp and annotations are the
// canned ones. Returns S_FALSE if any error is set.
HRESULT CheckInsert(DWORD n, const OPCHANDLE *handles, const FILETIME *times, const OPCHDA_ANNOTATION *values,
                    HRESULT *errors)
{
    HRESULT result = S_OK;
    for (DWORD i = 0; i < n; ++i) {
        int index = KnownHandleIndex(handles[i]);
        if (index < 0) {
            errors[i] = OPC_E_INVALIDHANDLE;
        } else {
            const FILETIME &want = kAnnotationInsertTimes[index];
            bool sameTime = times[i].dwLowDateTime == want.dwLowDateTime &&
                            times[i].dwHighDateTime == want.dwHighDateTime;
            errors[i] = sameTime && SameAnnotation(values[i], static_cast<DWORD>(index)) ? S_OK : kAnnotationMismatch;
        }
        if (errors[i] != S_OK)
            result = S_FALSE;
    }
    return result;
}

// Canned annotations of the known handles, an empty result for the others.
HRESULT ReadAnnotations(DWORD n, const OPCHANDLE *handles, OPCHDA_ANNOTATION **values, HRESULT **errors)
{
    auto fill = [&](DWORD i, OPCHDA_ANNOTATION &annotation, HRESULT &error) {
        int index = KnownHandleIndex(handles[i]);
        if (index >= 0)
            return FillAnnotation(annotation, static_cast<DWORD>(index));
        error = OPC_E_INVALIDHANDLE;
        return true;
    };
    return FillResults(n, fill, FreeAnnotation, values, errors);
}

}  // namespace

HRESULT STDMETHODCALLTYPE HdaServer::QueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *pCapabilities)
{
    *pCapabilities = static_cast<OPCHDA_ANNOTATIONCAPABILITIES>(OPCHDA_READANNOTATIONCAP | OPCHDA_INSERTANNOTATIONCAP);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::Read(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumItems,
                                          OPCHANDLE *phServer, OPCHDA_ANNOTATION **ppAnnotationValues,
                                          HRESULT **ppErrors)
{
    *ppAnnotationValues = nullptr;
    *ppErrors = nullptr;
    if (dwNumItems == 0 || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    return ReadAnnotations(dwNumItems, phServer, ppAnnotationValues, ppErrors);
}

HRESULT STDMETHODCALLTYPE HdaServer::Insert(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                            OPCHDA_ANNOTATION *pAnnotationValues, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    if (dwNumItems == 0)
        return E_INVALIDARG;
    HRESULT *errors = TaskArray<HRESULT>(dwNumItems);
    if (!errors)
        return E_OUTOFMEMORY;
    *ppErrors = errors;
    return CheckInsert(dwNumItems, phServer, ftTimeStamps, pAnnotationValues, errors);
}

HRESULT STDMETHODCALLTYPE HdaServer::Read(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                          DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                          HRESULT **ppErrors)
{
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    if (dwNumItems == 0 || !ResolveTimes(htStartTime, htEndTime))
        return E_INVALIDARG;
    HRESULT *errors = TaskArray<HRESULT>(dwNumItems);
    if (!errors)
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < dwNumItems; ++i)
        errors[i] = KnownHandleIndex(phServer[i]) >= 0 ? S_OK : OPC_E_INVALIDHANDLE;
    std::vector<OPCHANDLE> handles(phServer, phServer + dwNumItems);
    HRESULT hr = CallFromWorker(data_.Sink(), [dwTransactionID, handles](IUnknown *sink) {
        // The known items only: the call reports what it could read.
        std::vector<OPCHANDLE> known;
        for (OPCHANDLE h : handles)
            if (KnownHandleIndex(h) >= 0)
                known.push_back(h);
        OPCHDA_ANNOTATION *values = nullptr;
        HRESULT *errors = nullptr;
        if (known.empty() ||
            FAILED(ReadAnnotations(static_cast<DWORD>(known.size()), known.data(), &values, &errors)))
            return;
        static_cast<IOPCHDA_DataCallback *>(sink)->OnReadAnnotations(
            dwTransactionID, S_OK, static_cast<DWORD>(known.size()), values, errors);
        for (size_t i = 0; i < known.size(); ++i)
            FreeAnnotation(values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
    });
    if (FAILED(hr)) {
        CoTaskMemFree(errors);
        return hr;
    }
    *pdwCancelID = kAnnotationCancelId;
    *ppErrors = errors;
    for (DWORD i = 0; i < dwNumItems; ++i)
        if (errors[i] != S_OK)
            return S_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                            FILETIME *ftTimeStamps, OPCHDA_ANNOTATION *pAnnotationValues,
                                            DWORD *pdwCancelID, HRESULT **ppErrors)
{
    *pdwCancelID = 0;
    *ppErrors = nullptr;
    if (dwNumItems == 0)
        return E_INVALIDARG;
    // The comparison is done now, while the [in] arrays exist; its result
    // goes to OnInsertAnnotations with the items' client handles.
    std::vector<HRESULT> results(dwNumItems);
    HRESULT status = CheckInsert(dwNumItems, phServer, ftTimeStamps, pAnnotationValues, results.data());
    std::vector<OPCHANDLE> clients(dwNumItems);
    for (DWORD i = 0; i < dwNumItems; ++i) {
        int index = KnownHandleIndex(phServer[i]);
        clients[i] = index >= 0 ? kClientHandles[index] : 0;
    }
    HRESULT *errors = TaskArray<HRESULT>(dwNumItems);
    if (!errors)
        return E_OUTOFMEMORY;
    HRESULT hr = CallFromWorker(data_.Sink(), [dwTransactionID, status, results, clients](IUnknown *sink) {
        std::vector<OPCHANDLE> c = clients;
        std::vector<HRESULT> e = results;
        static_cast<IOPCHDA_DataCallback *>(sink)->OnInsertAnnotations(dwTransactionID, status,
                                                                       static_cast<DWORD>(c.size()), c.data(),
                                                                       e.data());
    });
    if (FAILED(hr)) {
        CoTaskMemFree(errors);
        return hr;
    }
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwNumItems; ++i) {
        errors[i] = KnownHandleIndex(phServer[i]) >= 0 ? S_OK : OPC_E_INVALIDHANDLE;
        if (errors[i] != S_OK)
            result = S_FALSE;
    }
    *pdwCancelID = kAnnotationCancelId;
    *ppErrors = errors;
    return result;
}

HRESULT STDMETHODCALLTYPE HdaServer::Cancel(DWORD)
{
    return E_FAIL;  // every transaction is already under way
}

}  // namespace xserver
