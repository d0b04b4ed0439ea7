// The test server's one COM object: IOPCHDA_Server, IOPCHDA_SyncRead,
// IOPCHDA_SyncAnnotations, IOPCHDA_AsyncAnnotations, IOPCCommon and a
// connection point container for IOPCShutdown and IOPCHDA_DataCallback. Every answer is canned (xproc_canned.h); the point is
// the marshalling, not the behaviour.
#pragma once

#include <functional>

#include "connection_point.h"
#include "xproc_canned.h"

namespace xserver {

class HdaServer final : public IOPCHDA_Server,
                        public IOPCHDA_SyncRead,
                        public IOPCHDA_SyncAnnotations,
                        public IOPCHDA_AsyncAnnotations,
                        public IOPCCommon,
                        public IConnectionPointContainer
{
public:
    HdaServer();
    ~HdaServer();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOPCHDA_Server (hda_server.cpp)
    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD *pdwCount, DWORD **ppdwAttrID, LPWSTR **ppszAttrName,
                                                LPWSTR **ppszAttrDesc, VARTYPE **ppvtAttrDataType) override;
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD *pdwCount, DWORD **ppdwAggrID, LPWSTR **ppszAggrName,
                                            LPWSTR **ppszAggrDesc) override;
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS *pwStatus, FILETIME **pftCurrentTime,
                                                 FILETIME **pftStartTime, WORD *pwMajorVersion,
                                                 WORD *pwMinorVersion, WORD *pwBuildNumber,
                                                 DWORD *pdwMaxReturnValues, LPWSTR *ppszStatusString,
                                                 LPWSTR *ppszVendorInfo) override;
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD dwCount, LPWSTR *pszItemID, OPCHANDLE *phClient,
                                             OPCHANDLE **pphServer, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD dwCount, OPCHANDLE *phServer, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD dwCount, LPWSTR *pszItemID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD dwCount, DWORD *pdwAttrID, OPCHDA_OPERATORCODES *pOperator,
                                           VARIANT *vFilter, IOPCHDA_Browser **pphBrowser,
                                           HRESULT **ppErrors) override;

    // IOPCHDA_SyncRead (hda_sync_read.cpp)
    HRESULT STDMETHODCALLTYPE ReadRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumValues,
                                      BOOL bBounds, DWORD dwNumItems, OPCHANDLE *phServer,
                                      OPCHDA_ITEM **ppItemValues, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadProcessed(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            FILETIME ftResampleInterval, DWORD dwNumItems, OPCHANDLE *phServer,
                                            DWORD *haAggregate, OPCHDA_ITEM **ppItemValues,
                                            HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwNumTimeStamps, FILETIME *ftTimeStamps, DWORD dwNumItems,
                                         OPCHANDLE *phServer, OPCHDA_ITEM **ppItemValues,
                                         HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumValues,
                                           DWORD dwNumItems, OPCHANDLE *phServer,
                                           OPCHDA_MODIFIEDITEM **ppItemValues, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, OPCHANDLE hServer,
                                            DWORD dwNumAttributes, DWORD *pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE **ppAttributeValues, HRESULT **ppErrors) override;

    // IOPCHDA_SyncAnnotations and IOPCHDA_AsyncAnnotations (hda_annotations.cpp);
    // QueryCapabilities serves both.
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_ANNOTATIONCAPABILITIES *pCapabilities) override;
    HRESULT STDMETHODCALLTYPE Read(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumItems,
                                   OPCHANDLE *phServer, OPCHDA_ANNOTATION **ppAnnotationValues,
                                   HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                     OPCHDA_ANNOTATION *pAnnotationValues, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Read(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                   DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                   HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, OPCHDA_ANNOTATION *pAnnotationValues,
                                     DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override;

    // IOPCCommon (hda_common.cpp)
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID dwLcid) override;
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD *pdwCount, LCID **pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR *ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IConnectionPointContainer (hda_common.cpp)
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) override;

private:
    volatile LONG refs_ = 1;
    volatile LONG locale_ = 0x0409;
    ConnectionPoint shutdown_;
    ConnectionPoint data_;
};

// Index of a server handle in kKnownItems, or -1.
int KnownHandleIndex(OPCHANDLE handle);

// The start time must arrive as kStartTimeText, the end time as kEndTime;
// writes the resolved start time back. False for any other times.
bool ResolveTimes(OPCHDA_TIME *start, OPCHDA_TIME *end);

// Calls `call` with the sink (one reference, released afterwards) from a new
// worker thread in the MTA, as a real server would (hda_common.cpp).
HRESULT CallFromWorker(IUnknown *sink, std::function<void(IUnknown *)> call);

}  // namespace xserver
