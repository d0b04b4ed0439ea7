#include "com/opc_server.h"

#include <new>
#include <string>
#include <vector>

#include "addrspace/browser.h"
#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"
#include "history/read_limits.h"
#include "history/standard_aggregates.h"
#include "opchda_constants.h"
#include "runtime/com_kit.h"
#include "runtime/guard.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"
#include "security/access.h"

namespace zq {

namespace {

// Size of the status string block while the host has given no status text:
// 40 UTF-16 units, all zero (empty).
constexpr size_t kStatusStringUnits = 40;

template <typename... T> bool AnyNull(const T *...pointers)
{
    return ((pointers == nullptr) || ...);
}

// Runs step(i) for every index, storing its result; S_FALSE when any of them
// is not S_OK.
template <typename Step> HRESULT PerItem(DWORD count, HRESULT *results, Step step)
{
    bool failed = false;
    for (DWORD i = 0; i < count; ++i) {
        results[i] = step(i);
        failed = failed || results[i] != S_OK;
    }
    return failed ? S_FALSE : S_OK;
}

// The error array of a per-item call: step(i) for every index, handed out
// through errors; S_FALSE when any item failed.
template <typename Step> HRESULT ErrorsPerItem(DWORD count, HRESULT **errors, Step step)
{
    TaskPtr<HRESULT> results(ZeroedTaskArray<HRESULT>(count));
    if (!results)
        return E_OUTOFMEMORY;
    HRESULT hr = PerItem(count, results.get(), step);
    *errors = results.release();
    return hr;
}

// Hands a catalogue list to the client: IDs, names, descriptions and, when
// dataTypes is given, data types, in definition order. Without memory for an
// array nothing is handed out (E_OUTOFMEMORY); a name or description that
// cannot be copied stays a null entry.
HRESULT CopyCatalogue(const std::vector<CatalogueEntry> &list, DWORD **ids, LPWSTR **names,
                      LPWSTR **descriptions, VARTYPE **dataTypes)
{
    const size_t n = list.size();
    TaskPtr<DWORD> idArray(ZeroedTaskArray<DWORD>(n));
    TaskPtr<LPWSTR> nameArray(ZeroedTaskArray<LPWSTR>(n));
    TaskPtr<LPWSTR> descriptionArray(ZeroedTaskArray<LPWSTR>(n));
    TaskPtr<VARTYPE> typeArray(dataTypes != nullptr ? ZeroedTaskArray<VARTYPE>(n) : nullptr);
    if (!idArray || !nameArray || !descriptionArray || (dataTypes != nullptr && !typeArray))
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < n; ++i) {
        idArray[i] = list[i].id;
        nameArray[i] = WideCopy(list[i].name.c_str(), true);
        descriptionArray[i] = WideCopy(list[i].description.c_str(), true);
        if (dataTypes != nullptr)
            typeArray[i] = list[i].dataType;
    }
    *ids = idArray.release();
    *names = nameArray.release();
    *descriptions = descriptionArray.release();
    if (dataTypes != nullptr)
        *dataTypes = typeArray.release();
    return S_OK;
}

// One item of GetItemHandles: a new handle entry in the client's list with
// the rights of the caller, under a server handle of its own. A client that
// has used up every server handle gets E_OUTOFMEMORY for further items.
HRESULT AddHandle(HandleList &handles, AccessEvaluator &evaluator, LPCWSTR itemId,
                  OPCHANDLE clientHandle, OPCHANDLE *serverHandle)
{
    return Guarded([&] {
        ItemInfo item;
        std::string id;
        if (!AnsiFromWide(itemId, id) || !LookupItem(id, &item))
            return OPC_E_UNKNOWNITEMID;
        HandleEntry entry;
        entry.clientHandle = clientHandle;
        entry.itemHandle = item.handle;
        evaluator.Fill(item.readAccess, item.writeAccess, entry);
        OPCHANDLE handle = handles.Add(std::move(entry));
        if (handle == 0)
            return E_OUTOFMEMORY;
        *serverHandle = handle;
        return S_OK;
    });
}

} // namespace

OpcHdaServerInterface::OpcHdaServerInterface(HDAServer *owner)
    : InterfaceObject(owner, {texts::kIHDAServer_AddRef_defered_to_HDAServer,
                              texts::kIHDAServer_Release_defered_to_HDAServer,
                              texts::kIHDAServer_QueryInterface_defered_to_HDAServer})
{
}

HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::GetItemAttributes(DWORD *count, DWORD **ids,
                                                             LPWSTR **names,
                                                             LPWSTR **descriptions,
                                                             VARTYPE **dataTypes)
{
    Trace(texts::kIHDAServer_GetItemAttributes);
    ClearOut(ids, names, descriptions, dataTypes);
    if (AnyNull(count, ids, names, descriptions, dataTypes)) {
        if (count != nullptr)
            *count = 0;
        return E_INVALIDARG;
    }
    CatalogueReader catalogue;
    const std::vector<CatalogueEntry> &list = catalogue.Attributes();
    // The count is stored first and stays when the arrays cannot be made.
    *count = static_cast<DWORD>(list.size());
    return CopyCatalogue(list, ids, names, descriptions, dataTypes);
}

HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::GetAggregates(DWORD *count, DWORD **ids,
                                                         LPWSTR **names, LPWSTR **descriptions)
{
    Trace(texts::kIHDAServer_GetAggregates);
    ClearOut(ids, names, descriptions);
    if (AnyNull(count, ids, names, descriptions)) {
        if (count != nullptr)
            *count = 0;
        return E_INVALIDARG;
    }
    return Guarded([&] {
        // The host's aggregates, then the library's that the host did not
        // define itself (while EnableHDAStandardAggregates is on).
        std::vector<CatalogueEntry> list;
        {
            CatalogueReader catalogue;
            list = catalogue.Aggregates();
        }
        if (StandardAggregatesOn()) {
            for (const StandardAggregate *a : OfferedStandardAggregates()) {
                CatalogueEntry entry;
                entry.id = a->id;
                entry.name = a->name;
                entry.description = a->description;
                list.push_back(entry);
            }
        }
        *count = static_cast<DWORD>(list.size());
        return CopyCatalogue(list, ids, names, descriptions, nullptr);
    });
}

HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::GetHistorianStatus(
    OPCHDA_SERVERSTATUS *status, FILETIME **currentTime, FILETIME **startTime, WORD *majorVersion,
    WORD *minorVersion, WORD *buildNumber, DWORD *maxReturnValues, LPWSTR *statusString,
    LPWSTR *vendorInfo)
{
    Trace(texts::kIHDAServer_GetHistorianStatus);
    ClearOut(currentTime, startTime, statusString, vendorInfo);
    if (AnyNull(status, currentTime, startTime, majorVersion, minorVersion, buildNumber,
                maxReturnValues, statusString, vendorInfo))
        return E_INVALIDARG;
    return Guarded([&] {
        TaskPtr<FILETIME> now(ZeroedTaskArray<FILETIME>(1));
        TaskPtr<FILETIME> started(ZeroedTaskArray<FILETIME>(1));
        const HostSettings::HostStatus host = State().settings.Status();
        TaskPtr<wchar_t> text(host.text.empty() ? ZeroedTaskArray<wchar_t>(kStatusStringUnits)
                                                : WideCopy(host.text.c_str(), true));
        TaskPtr<wchar_t> vendor(WideCopy(State().settings.Vendor().c_str(), true));
        if (!now || !started || !text || !vendor)
            return E_OUTOFMEMORY;
        CoFileTimeNow(now.get());
        *started.get() = State().startTime;
        *status = static_cast<OPCHDA_SERVERSTATUS>(host.status);
        *majorVersion = 1;
        *minorVersion = 0;
        *buildNumber = 0;
        *maxReturnValues = CurrentReadLimits().values; // the host's, at most one reply's
        *currentTime = now.release();
        *startTime = started.release();
        *statusString = text.release();
        *vendorInfo = vendor.release();
        return S_OK;
    });
}

// Every call makes new entries: asking twice for one item gives two entries,
// each with its own server handle and client handle. The rights of the
// caller are evaluated once per call (one evaluator), on this thread, with
// the client's identity.
HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::GetItemHandles(DWORD count, LPWSTR *itemIds,
                                                          OPCHANDLE *clientHandles,
                                                          OPCHANDLE **serverHandles,
                                                          HRESULT **errors)
{
    Trace(texts::kIHDAServer_GetItemHandles);
    ClearOut(serverHandles, errors);
    if (count == 0 || AnyNull(itemIds, clientHandles, serverHandles, errors))
        return E_INVALIDARG;
    // Unknown items keep server handle 0.
    TaskPtr<OPCHANDLE> handles(ZeroedTaskArray<OPCHANDLE>(count));
    TaskPtr<HRESULT> results(ZeroedTaskArray<HRESULT>(count));
    if (!handles || !results)
        return E_OUTOFMEMORY;
    AccessEvaluator evaluator;
    HandleList &list = owner_->Handles();
    HRESULT hr = PerItem(count, results.get(), [&](DWORD i) {
        return AddHandle(list, evaluator, itemIds[i], clientHandles[i], &handles[i]);
    });
    *serverHandles = handles.release();
    *errors = results.release();
    return hr;
}

HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::ReleaseItemHandles(DWORD count,
                                                              OPCHANDLE *serverHandles,
                                                              HRESULT **errors)
{
    Trace(texts::kIHDAServer_ReleaseItemHandles);
    ClearOut(errors);
    if (count == 0 || AnyNull(serverHandles, errors))
        return E_INVALIDARG;
    HandleList &list = owner_->Handles();
    return ErrorsPerItem(count, errors, [&](DWORD i) {
        return list.Remove(serverHandles[i]) ? S_OK : OPC_E_INVALIDHANDLE;
    });
}

HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::ValidateItemIDs(DWORD count, LPWSTR *itemIds,
                                                           HRESULT **errors)
{
    Trace(texts::kIHDAServer_ValidateItemIDs);
    ClearOut(errors);
    if (count == 0 || AnyNull(itemIds, errors))
        return E_INVALIDARG;
    return ErrorsPerItem(count, errors, [&](DWORD i) {
        return Guarded([&] {
            std::string id;
            return AnsiFromWide(itemIds[i], id) && LookupItem(id, nullptr) ? S_OK
                                                                          : OPC_E_UNKNOWNITEMID;
        });
    });
}

// The browser keeps no filter, so every filter entry is reported S_OK
// whatever it says. With no filters the error array is null: there is
// nothing to report and nothing for the client to free.
HRESULT STDMETHODCALLTYPE OpcHdaServerInterface::CreateBrowse(DWORD count, DWORD *, OPCHDA_OPERATORCODES *,
                                                        VARIANT *, IOPCHDA_Browser **browser,
                                                        HRESULT **errors)
{
    Trace(texts::kIHDAServer_CreateBrowse);
    ClearOut(browser, errors);
    if (AnyNull(browser, errors))
        return E_INVALIDARG;
    TaskPtr<HRESULT> results;
    if (count != 0) {
        results.reset(ZeroedTaskArray<HRESULT>(count));
        if (!results)
            return E_OUTOFMEMORY;
    }
    HDABrowser *created = HDABrowser::Create(static_cast<IUnknown *>(owner_));
    if (created == nullptr)
        return E_OUTOFMEMORY;
    *browser = created;
    *errors = results.release();
    return S_OK;
}

OwnedInterface *CreateOpcHdaServerInterface(HDAServer *owner)
{
    return new (std::nothrow) OpcHdaServerInterface(owner);
}

} // namespace zq
