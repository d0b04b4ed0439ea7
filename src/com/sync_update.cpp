#include "com/sync_update.h"

#include <new>

#include "com/interface_object.h"
#include "history/item_check.h"
#include "history/update_engine.h"
#include "runtime/com_kit.h"
#include "runtime/guard.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "runtime/trace_texts.h"

namespace zq {

HRESULT SyncUpdateQueryCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    Trace(texts::kIHDA_SyncUpdate_QueryCapabilities);
    if (capabilities == nullptr)
        return E_INVALIDARG;
    *capabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    return Guarded([&] { return RunQueryCapabilities(Host(), capabilities); });
}

namespace {

using ValueUpdate = HRESULT (*)(CZqHDACallback *, const char *, void *, const FILETIME &,
                                VARIANT *, DWORD);

class SyncUpdateInterface final : public InterfaceObject<IOPCHDA_SyncUpdate>
{
public:
    explicit SyncUpdateInterface(HDAServer *owner)
        : InterfaceObject(owner, {texts::kIOPCHDA_SyncUpdate_AddRef_defered_to_HDAServer,
                                  texts::kIOPCHDA_SyncUpdate_Release_defered_to_OPCServer,
                                  texts::kIOPCHDA_SyncUpdate_QueryInterface_defered_to_OPCServer})
    {
    }

    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES *pCapabilities) override
    {
        return SyncUpdateQueryCapabilities(pCapabilities);
    }

    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                     DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_Insert);
        return UpdateValues(RunInsert, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE *phServer,
                                      FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                      DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_Replace);
        return UpdateValues(RunReplace, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE *phServer,
                                            FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                            DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_InsertReplace);
        return UpdateValues(RunInsertReplace, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                        DWORD dwNumItems, OPCHANDLE *phServer,
                                        HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_DeleteRaw);
        if (htStartTime == nullptr || htEndTime == nullptr) {
            ClearOut(ppErrors);
            return E_INVALIDARG;
        }
        // The client's records go to the host as they came: a relative text
        // stays text, and nothing is written back.
        return UpdateItems(dwNumItems, phServer, ppErrors,
                           [&](CZqHDACallback *host, DWORD, const char *user, void *item) {
                               return RunDeleteRaw(host, user, item, htStartTime, htEndTime);
                           });
    }

    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE *phServer,
                                           FILETIME *ftTimeStamps, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_DeleteAtTime);
        if (ftTimeStamps == nullptr) {
            ClearOut(ppErrors);
            return E_INVALIDARG;
        }
        return UpdateItems(dwNumItems, phServer, ppErrors,
                           [&](CZqHDACallback *host, DWORD i, const char *user, void *item) {
                               return RunDeleteAtTime(host, user, item, ftTimeStamps[i]);
                           });
    }

private:
    HRESULT UpdateValues(ValueUpdate run, DWORD count, const OPCHANDLE *servers,
                         const FILETIME *times, VARIANT *values, const DWORD *qualities,
                         HRESULT **errors)
    {
        if (times == nullptr || values == nullptr || qualities == nullptr) {
            ClearOut(errors);
            return E_INVALIDARG;
        }
        return UpdateItems(count, servers, errors,
                           [&](CZqHDACallback *host, DWORD i, const char *user, void *item) {
                               return run(host, user, item, times[i], &values[i], qualities[i]);
                           });
    }

    // The per-item part of every update: the error array, then in request
    // order the item check and the engine for the items that pass (with the
    // host's object, read once for the request). A zero count or a missing
    // array is refused rather than used.
    template <typename Engine>
    HRESULT UpdateItems(DWORD count, const OPCHANDLE *servers, HRESULT **errors, Engine &&engine)
    {
        ClearOut(errors);
        if (count == 0 || servers == nullptr || errors == nullptr)
            return E_INVALIDARG;
        return Guarded([&] {
            TaskPtr<HRESULT> codes(ZeroedTaskArray<HRESULT>(count));
            if (!codes)
                return E_OUTOFMEMORY;
            CZqHDACallback *const host = Host();
            for (DWORD i = 0; i < count; ++i) {
                char user[kUserNameBuffer];
                CheckedItem found;
                HRESULT hr = CheckUpdateItem(owner_->Handles(), servers[i], &found, user);
                if (hr == S_OK)
                    hr = engine(host, i, user, found.item);
                codes[i] = hr;
            }
            HRESULT overall = OverallUpdateResult(codes.get(), count);
            *errors = codes.release();
            return overall;
        });
    }
};

} // namespace

OwnedInterface *CreateSyncUpdateInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncUpdateInterface(owner);
}

} // namespace zq
