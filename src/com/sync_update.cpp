#include "com/sync_update.h"

#include <new>

#include "com/interface_object.h"
#include "history/item_check.h"
#include "history/sync_requests.h"
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
        return UpdateValues(ValueEdit::Insert, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE *phServer,
                                      FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                      DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_Replace);
        return UpdateValues(ValueEdit::Replace, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE *phServer,
                                            FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                            DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace(texts::kIHDA_SyncUpdate_InsertReplace);
        return UpdateValues(ValueEdit::InsertReplace, dwNumItems, phServer, ftTimeStamps, vDataValues,
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
        return UpdateItems(dwNumItems, phServer, ppErrors, [&] {
            return DeleteRawRequest(owner_->Handles(), htStartTime, htEndTime, dwNumItems,
                                    phServer, ppErrors);
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
        return UpdateItems(dwNumItems, phServer, ppErrors, [&] {
            return DeleteAtTimeRequest(owner_->Handles(), dwNumItems, phServer, ftTimeStamps,
                                       ppErrors);
        });
    }

private:
    HRESULT UpdateValues(ValueEdit edit, DWORD count, const OPCHANDLE *servers,
                         const FILETIME *times, VARIANT *values, const DWORD *qualities,
                         HRESULT **errors)
    {
        if (times == nullptr || values == nullptr || qualities == nullptr) {
            ClearOut(errors);
            return E_INVALIDARG;
        }
        return UpdateItems(count, servers, errors, [&] {
            return UpdateValuesRequest(owner_->Handles(), edit, count, servers, times, values,
                                       qualities, errors);
        });
    }

    // The common checks of every update: the error pointer cleared, a zero
    // count or a missing array refused rather than used; then the request.
    template <typename Request>
    static HRESULT UpdateItems(DWORD count, const OPCHANDLE *servers, HRESULT **errors,
                               Request &&request)
    {
        ClearOut(errors);
        if (count == 0 || servers == nullptr || errors == nullptr)
            return E_INVALIDARG;
        return Guarded(request);
    }
};

} // namespace

OwnedInterface *CreateSyncUpdateInterface(HDAServer *owner)
{
    return new (std::nothrow) SyncUpdateInterface(owner);
}

} // namespace zq
