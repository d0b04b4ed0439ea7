#include "hda_server.h"

#include <cwchar>

#include "browser.h"
#include "lifetime.h"
#include "task_memory.h"

namespace xserver {

using namespace xproc;

HdaServer::HdaServer()
    : shutdown_(this, IID_IOPCShutdown), data_(this, IID_IOPCHDA_DataCallback)
{
    ObjectCreated();
}

HdaServer::~HdaServer()
{
    ObjectDestroyed();
}

HRESULT STDMETHODCALLTYPE HdaServer::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IOPCHDA_Server)
        *ppv = static_cast<IOPCHDA_Server *>(this);
    else if (riid == IID_IOPCHDA_SyncRead)
        *ppv = static_cast<IOPCHDA_SyncRead *>(this);
    else if (riid == IID_IOPCHDA_SyncAnnotations)
        *ppv = static_cast<IOPCHDA_SyncAnnotations *>(this);
    else if (riid == IID_IOPCHDA_AsyncAnnotations)
        *ppv = static_cast<IOPCHDA_AsyncAnnotations *>(this);
    else if (riid == IID_IOPCCommon)
        *ppv = static_cast<IOPCCommon *>(this);
    else if (riid == IID_IConnectionPointContainer)
        *ppv = static_cast<IConnectionPointContainer *>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE HdaServer::AddRef()
{
    return InterlockedIncrement(&refs_);
}

ULONG STDMETHODCALLTYPE HdaServer::Release()
{
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
        delete this;
    return left;
}

int KnownHandleIndex(OPCHANDLE handle)
{
    if (handle >= kFirstHandle && handle < kFirstHandle + kKnownItemCount)
        return static_cast<int>(handle - kFirstHandle);
    return -1;
}

namespace {

// Index of an item ID in kKnownItems, or -1.
int KnownItemIndex(LPCWSTR id)
{
    for (DWORD i = 0; id && i < kKnownItemCount; ++i)
        if (wcscmp(id, kKnownItems[i]) == 0)
            return static_cast<int>(i);
    return -1;
}

// Checks item IDs: S_OK for known ones, OPC_E_INVALIDITEMID for a null or
// empty ID, OPC_E_UNKNOWNITEMID otherwise. Returns S_FALSE if any failed.
HRESULT CheckItemIds(DWORD count, LPWSTR *ids, HRESULT *errors)
{
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        if (!ids[i] || !ids[i][0])
            errors[i] = OPC_E_INVALIDITEMID;
        else
            errors[i] = KnownItemIndex(ids[i]) >= 0 ? S_OK : OPC_E_UNKNOWNITEMID;
        if (errors[i] != S_OK)
            result = S_FALSE;
    }
    return result;
}

}  // namespace

HRESULT STDMETHODCALLTYPE HdaServer::GetItemAttributes(DWORD *pdwCount, DWORD **ppdwAttrID, LPWSTR **ppszAttrName,
                                                       LPWSTR **ppszAttrDesc, VARTYPE **ppvtAttrDataType)
{
    DWORD *ids = TaskArray<DWORD>(kAttributeCount);
    LPWSTR *names = TaskArray<LPWSTR>(kAttributeCount);
    LPWSTR *descs = TaskArray<LPWSTR>(kAttributeCount);
    VARTYPE *types = TaskArray<VARTYPE>(kAttributeCount);
    bool ok = ids && names && descs && types;
    for (DWORD i = 0; ok && i < kAttributeCount; ++i) {
        ids[i] = kAttributes[i].id;
        types[i] = kAttributes[i].type;
        names[i] = TaskString(kAttributes[i].name);
        descs[i] = TaskString(kAttributes[i].description);
        ok = names[i] && (descs[i] || !kAttributes[i].description);
    }
    if (!ok) {
        FreeTaskStrings(names, kAttributeCount);
        FreeTaskStrings(descs, kAttributeCount);
        CoTaskMemFree(ids);
        CoTaskMemFree(types);
        *pdwCount = 0;
        *ppdwAttrID = nullptr;
        *ppszAttrName = *ppszAttrDesc = nullptr;
        *ppvtAttrDataType = nullptr;
        return E_OUTOFMEMORY;
    }
    *pdwCount = kAttributeCount;
    *ppdwAttrID = ids;
    *ppszAttrName = names;
    *ppszAttrDesc = descs;
    *ppvtAttrDataType = types;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::GetAggregates(DWORD *pdwCount, DWORD **ppdwAggrID, LPWSTR **ppszAggrName,
                                                   LPWSTR **ppszAggrDesc)
{
    DWORD *ids = TaskArray<DWORD>(kAggregateCount);
    LPWSTR *names = TaskArray<LPWSTR>(kAggregateCount);
    LPWSTR *descs = TaskArray<LPWSTR>(kAggregateCount);
    bool ok = ids && names && descs;
    for (DWORD i = 0; ok && i < kAggregateCount; ++i) {
        ids[i] = kAggregates[i].id;
        names[i] = TaskString(kAggregates[i].name);
        descs[i] = TaskString(kAggregates[i].description);
        ok = names[i] && descs[i];
    }
    if (!ok) {
        FreeTaskStrings(names, kAggregateCount);
        FreeTaskStrings(descs, kAggregateCount);
        CoTaskMemFree(ids);
        *pdwCount = 0;
        *ppdwAggrID = nullptr;
        *ppszAggrName = *ppszAggrDesc = nullptr;
        return E_OUTOFMEMORY;
    }
    *pdwCount = kAggregateCount;
    *ppdwAggrID = ids;
    *ppszAggrName = names;
    *ppszAggrDesc = descs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::GetHistorianStatus(OPCHDA_SERVERSTATUS *pwStatus, FILETIME **pftCurrentTime,
                                                        FILETIME **pftStartTime, WORD *pwMajorVersion,
                                                        WORD *pwMinorVersion, WORD *pwBuildNumber,
                                                        DWORD *pdwMaxReturnValues, LPWSTR *ppszStatusString,
                                                        LPWSTR *ppszVendorInfo)
{
    FILETIME *now = TaskArray<FILETIME>(1);
    LPWSTR status = TaskString(kStatusString);
    LPWSTR vendor = TaskString(kVendorInfo);
    if (!now || !status || !vendor) {
        CoTaskMemFree(now);
        CoTaskMemFree(status);
        CoTaskMemFree(vendor);
        *pftCurrentTime = *pftStartTime = nullptr;
        *ppszStatusString = *ppszVendorInfo = nullptr;
        return E_OUTOFMEMORY;
    }
    *now = kCurrentTime;
    *pwStatus = OPCHDA_UP;
    *pftCurrentTime = now;
    *pftStartTime = nullptr;  // optional: this server does not report it
    *pwMajorVersion = kMajorVersion;
    *pwMinorVersion = kMinorVersion;
    *pwBuildNumber = kBuildNumber;
    *pdwMaxReturnValues = kMaxReturnValues;
    *ppszStatusString = status;
    *ppszVendorInfo = vendor;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HdaServer::GetItemHandles(DWORD dwCount, LPWSTR *pszItemID, OPCHANDLE *phClient,
                                                    OPCHANDLE **pphServer, HRESULT **ppErrors)
{
    *pphServer = nullptr;
    *ppErrors = nullptr;
    if (dwCount == 0)
        return E_INVALIDARG;
    OPCHANDLE *handles = TaskArray<OPCHANDLE>(dwCount);
    HRESULT *errors = TaskArray<HRESULT>(dwCount);
    if (!handles || !errors) {
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        return E_OUTOFMEMORY;
    }
    HRESULT result = CheckItemIds(dwCount, pszItemID, errors);
    for (DWORD i = 0; i < dwCount; ++i) {
        // The client handle must be the one this item is read back with.
        int index = KnownItemIndex(pszItemID[i]);
        if (index >= 0 && phClient[i] != kClientHandles[index]) {
            errors[i] = E_INVALIDARG;
            result = S_FALSE;
        }
        handles[i] = errors[i] == S_OK ? kFirstHandle + static_cast<OPCHANDLE>(index) : 0;
    }
    *pphServer = handles;
    *ppErrors = errors;
    return result;
}

HRESULT STDMETHODCALLTYPE HdaServer::ReleaseItemHandles(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    if (dwCount == 0)
        return E_INVALIDARG;
    HRESULT *errors = TaskArray<HRESULT>(dwCount);
    if (!errors)
        return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        errors[i] = KnownHandleIndex(phServer[i]) >= 0 ? S_OK : OPC_E_INVALIDHANDLE;
        if (errors[i] != S_OK)
            result = S_FALSE;
    }
    *ppErrors = errors;
    return result;
}

HRESULT STDMETHODCALLTYPE HdaServer::ValidateItemIDs(DWORD dwCount, LPWSTR *pszItemID, HRESULT **ppErrors)
{
    *ppErrors = nullptr;
    if (dwCount == 0)
        return E_INVALIDARG;
    HRESULT *errors = TaskArray<HRESULT>(dwCount);
    if (!errors)
        return E_OUTOFMEMORY;
    HRESULT result = CheckItemIds(dwCount, pszItemID, errors);
    *ppErrors = errors;
    return result;
}

HRESULT STDMETHODCALLTYPE HdaServer::CreateBrowse(DWORD dwCount, DWORD *pdwAttrID, OPCHDA_OPERATORCODES *pOperator,
                                                  VARIANT *vFilter, IOPCHDA_Browser **pphBrowser,
                                                  HRESULT **ppErrors)
{
    *pphBrowser = nullptr;
    *ppErrors = nullptr;
    HRESULT *errors = TaskArray<HRESULT>(dwCount);
    if (!errors)
        return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        bool intact = false;
        if (pdwAttrID[i] == OPCHDA_DATA_TYPE)
            intact = V_VT(&vFilter[i]) == VT_I2 && V_I2(&vFilter[i]) == kFilterDataType;
        else if (pdwAttrID[i] == OPCHDA_DESCRIPTION)
            intact = V_VT(&vFilter[i]) == VT_BSTR && V_BSTR(&vFilter[i]) &&
                     wcscmp(V_BSTR(&vFilter[i]), kFilterDescription) == 0;
        errors[i] = intact ? FilterEcho(pdwAttrID[i], pOperator[i]) : E_INVALIDARG;
        if (!intact)
            result = S_FALSE;
    }
    *pphBrowser = CreateBrowser();
    *ppErrors = errors;
    return result;
}

}  // namespace xserver
