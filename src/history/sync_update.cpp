#include "history/sync_update.h"

#include <new>

#include "com/interface_object.h"
#include "history/item_check.h"
#include "history/update_engine.h"
#include "runtime/guard.h"
#include "runtime/task_memory.h"

namespace zq {

HRESULT SyncUpdateQueryCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    Trace("IHDA_SyncUpdate::QueryCapabilities()");
    if (capabilities == nullptr)
        return E_INVALIDARG;
    *capabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    return Guarded([&] { return RunQueryCapabilities(capabilities); });
}

namespace {

using ValueUpdate = HRESULT (*)(const char *, void *, const FILETIME &, VARIANT *, DWORD);

class SyncUpdateInterface final : public InterfaceObject<IOPCHDA_SyncUpdate>
{
public:
    explicit SyncUpdateInterface(HDAServer *owner)
        : InterfaceObject(owner, {"IOPCHDA_SyncUpdate::AddRef() [defered to HDAServer]",
                                  "IOPCHDA_SyncUpdate::Release() [defered to OPCServer]",
                                  "IOPCHDA_SyncUpdate::QueryInterface() [defered to OPCServer]"})
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
        Trace("IHDA_SyncUpdate::Insert()");
        return UpdateValues(RunInsert, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE *phServer,
                                      FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                      DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncUpdate::Replace()");
        return UpdateValues(RunReplace, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE *phServer,
                                            FILETIME *ftTimeStamps, VARIANT *vDataValues,
                                            DWORD *pdwQualities, HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncUpdate::InsertReplace()");
        return UpdateValues(RunInsertReplace, dwNumItems, phServer, ftTimeStamps, vDataValues,
                            pdwQualities, ppErrors);
    }

    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                        DWORD dwNumItems, OPCHANDLE *phServer,
                                        HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncUpdate::DeleteRaw()");
        if (htStartTime == nullptr || htEndTime == nullptr) {
            ClearOut(ppErrors);
            return E_INVALIDARG;
        }
        // The client's records go to the host as they came: a relative text
        // stays text, and nothing is written back.
        return UpdateItems(dwNumItems, phServer, ppErrors,
                           [&](DWORD, const char *user, void *item) {
                               return RunDeleteRaw(user, item, htStartTime, htEndTime);
                           });
    }

    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE *phServer,
                                           FILETIME *ftTimeStamps, HRESULT **ppErrors) override
    {
        Trace("IHDA_SyncUpdate::DeleteAtTime()");
        if (ftTimeStamps == nullptr) {
            ClearOut(ppErrors);
            return E_INVALIDARG;
        }
        return UpdateItems(dwNumItems, phServer, ppErrors,
                           [&](DWORD i, const char *user, void *item) {
                               return RunDeleteAtTime(user, item, ftTimeStamps[i]);
                           });
    }

private:
    static void ClearOut(HRESULT **errors)
    {
        if (errors != nullptr)
            *errors = nullptr;
    }

    HRESULT UpdateValues(ValueUpdate run, DWORD count, const OPCHANDLE *servers,
                         const FILETIME *times, VARIANT *values, const DWORD *qualities,
                         HRESULT **errors)
    {
        if (times == nullptr || values == nullptr || qualities == nullptr) {
            ClearOut(errors);
            return E_INVALIDARG;
        }
        return UpdateItems(count, servers, errors, [&](DWORD i, const char *user, void *item) {
            return run(user, item, times[i], &values[i], qualities[i]);
        });
    }

    // The per-item part of every update: the error array, then in request
    // order the item check and the engine for the items that pass. A zero
    // count or a missing array is refused rather than used.
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
            for (DWORD i = 0; i < count; ++i) {
                char user[kUserNameBuffer];
                CheckedItem found;
                HRESULT hr = CheckUpdateItem(owner_->Handles(), servers[i], &found, user);
                if (hr == S_OK)
                    hr = engine(i, user, found.item);
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
