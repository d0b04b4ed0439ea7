// IOPCHDA_Server: the historian status, the attribute and aggregate
// catalogues, item handles for this client (recorded in its handle list with
// the rights of the calling client) and browsers.
//
// Everything handed to the client comes from the task allocator. On every
// failure result the out array pointers are null and nothing allocated by
// the call is left behind; per-item failures are reported in the error
// array with S_FALSE.
#pragma once

#include "com/interface_object.h"
#include "opchda.h"

namespace zq {

class OpcHdaServerInterface final : public InterfaceObject<IOPCHDA_Server>
{
public:
    explicit OpcHdaServerInterface(HDAServer *owner);

    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD *count, DWORD **ids, LPWSTR **names,
                                                LPWSTR **descriptions,
                                                VARTYPE **dataTypes) override;
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD *count, DWORD **ids, LPWSTR **names,
                                            LPWSTR **descriptions) override;
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS *status,
                                                 FILETIME **currentTime, FILETIME **startTime,
                                                 WORD *majorVersion, WORD *minorVersion,
                                                 WORD *buildNumber, DWORD *maxReturnValues,
                                                 LPWSTR *statusString,
                                                 LPWSTR *vendorInfo) override;
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD count, LPWSTR *itemIds,
                                             OPCHANDLE *clientHandles,
                                             OPCHANDLE **serverHandles,
                                             HRESULT **errors) override;
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD count, OPCHANDLE *serverHandles,
                                                 HRESULT **errors) override;
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD count, LPWSTR *itemIds,
                                              HRESULT **errors) override;
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD count, DWORD *attributeIds,
                                           OPCHDA_OPERATORCODES *operators, VARIANT *filters,
                                           IOPCHDA_Browser **browser, HRESULT **errors) override;
};

// The maker of the interface object; null when memory runs out.
OwnedInterface *CreateOpcHdaServerInterface(HDAServer *owner);

} // namespace zq
