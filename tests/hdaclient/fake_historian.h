// An in-process OPC HDA server for the client's tests: a few items with
// numeric history in memory, a small browse tree, synchronous and
// asynchronous reads and updates, raw-data subscriptions and connection
// points. It logs what it was asked so that tests can check the requests.
//
// Raw reads return the values between the bounds (both included), ascending,
// or descending when the start is after the end or only the end is given; at
// most min(dwNumValues, the server limit) of them, with OPC_S_MOREDATA when
// more exist. Relative times: "" (none) and "NOW" (kNow, written back) only.
// Asynchronous results leave out the items that failed at request time, as
// the OPC rules say, and come from one worker thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "connection_point.h"
#include "times.h"

namespace fake {

using zqhda::Ticks;

// 2026-01-01T00:00:00Z and "now" (2026-01-02T00:00:00Z) of the fake.
extern const Ticks kT0;
extern const Ticks kNow;
FILETIME At(double secondsAfterT0);

struct Point
{
    Ticks time;
    double value;
    DWORD quality;
};

// One ReadRaw as the fake received it.
struct RawRequest
{
    bool startText, endText;            // bString
    std::wstring startString, endString;
    Ticks start, end;                   // ftTime as given
    DWORD maxValues;
    DWORD items;
};

class FakeHistorian final : public IOPCHDA_Server,
                            public IOPCCommon,
                            public IOPCHDA_SyncRead,
                            public IOPCHDA_SyncUpdate,
                            public IOPCHDA_AsyncRead,
                            public IOPCHDA_AsyncUpdate,
                            public IConnectionPointContainer
{
public:
    FakeHistorian();
    ~FakeHistorian();

    // ---- set-up ----
    void AddItem(const std::wstring &id, std::vector<Point> points);
    DWORD serverMax = 0;        // values per item and request, 0: none
    bool silentAsync = false;   // accept asynchronous requests, never answer
    bool shutdownInRead = false;  // a synchronous raw read asks the client to disconnect
    volatile LONG dataChanges = 0;  // OnDataChange calls made
    std::vector<IID> hidden;    // interfaces QueryInterface refuses

    // ---- observation ----
    size_t LiveHandles();
    std::vector<RawRequest> RawRequests();
    std::vector<DWORD> Cancelled();
    bool DataSinkAdvised();
    bool ShutdownSinkAdvised();
    std::wstring ClientName();
    std::vector<Point> Points(const std::wstring &id);
    // Calls the advised IOPCShutdown sink (if any) with the reason.
    void FireShutdown(const wchar_t *reason);
    // Ends the worker thread (the test calls it before the last Release).
    void Stop();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOPCHDA_Server (fake_historian.cpp)
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

    // IOPCCommon (fake_historian.cpp)
    HRESULT STDMETHODCALLTYPE SetLocaleID(LCID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *pdwLcid) override;
    HRESULT STDMETHODCALLTYPE QueryAvailableLocaleIDs(DWORD *pdwCount, LCID **pdwLcid) override;
    HRESULT STDMETHODCALLTYPE GetErrorString(HRESULT dwError, LPWSTR *ppString) override;
    HRESULT STDMETHODCALLTYPE SetClientName(LPCWSTR szName) override;

    // IConnectionPointContainer (fake_historian.cpp)
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) override;

    // IOPCHDA_SyncRead (fake_history.cpp)
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
    HRESULT STDMETHODCALLTYPE ReadModified(OPCHDA_TIME *, OPCHDA_TIME *, DWORD, DWORD, OPCHANDLE *,
                                           OPCHDA_MODIFIEDITEM **, HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, OPCHANDLE hServer,
                                            DWORD dwNumAttributes, DWORD *pdwAttributeIDs,
                                            OPCHDA_ATTRIBUTE **ppAttributeValues, HRESULT **ppErrors) override;

    // IOPCHDA_SyncUpdate (fake_history.cpp)
    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES *pCapabilities) override;
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                     VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Replace(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                      VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                            VARIANT *vDataValues, DWORD *pdwQualities, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime, DWORD dwNumItems,
                                        OPCHANDLE *phServer, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwNumItems, OPCHANDLE *phServer, FILETIME *ftTimeStamps,
                                           HRESULT **ppErrors) override;

    // IOPCHDA_AsyncRead (fake_async.cpp)
    HRESULT STDMETHODCALLTYPE ReadRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                      DWORD dwNumValues, BOOL bBounds, DWORD dwNumItems, OPCHANDLE *phServer,
                                      DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE AdviseRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, FILETIME ftUpdateInterval,
                                        DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                        HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadProcessed(DWORD dwTransactionID, OPCHDA_TIME *htStartTime,
                                            OPCHDA_TIME *htEndTime, FILETIME ftResampleInterval, DWORD dwNumItems,
                                            OPCHANDLE *phServer, DWORD *haAggregate, DWORD *pdwCancelID,
                                            HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE AdviseProcessed(DWORD, OPCHDA_TIME *, FILETIME, DWORD, OPCHANDLE *, DWORD *, DWORD,
                                              DWORD *, HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAtTime(DWORD dwTransactionID, DWORD dwNumTimeStamps, FILETIME *ftTimeStamps,
                                         DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                         HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE ReadModified(DWORD, OPCHDA_TIME *, OPCHDA_TIME *, DWORD, DWORD, OPCHANDLE *, DWORD *,
                                           HRESULT **) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadAttribute(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                            OPCHANDLE hServer, DWORD dwNumAttributes, DWORD *dwAttributeIDs,
                                            DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwCancelID) override;

    // IOPCHDA_AsyncUpdate (fake_async.cpp); QueryCapabilities and Cancel are shared.
    HRESULT STDMETHODCALLTYPE Insert(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                     FILETIME *ftTimeStamps, VARIANT *vDataValues, DWORD *pdwQualities,
                                     DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE Replace(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                      FILETIME *ftTimeStamps, VARIANT *vDataValues, DWORD *pdwQualities,
                                      DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                            FILETIME *ftTimeStamps, VARIANT *vDataValues, DWORD *pdwQualities,
                                            DWORD *pdwCancelID, HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteRaw(DWORD dwTransactionID, OPCHDA_TIME *htStartTime, OPCHDA_TIME *htEndTime,
                                        DWORD dwNumItems, OPCHANDLE *phServer, DWORD *pdwCancelID,
                                        HRESULT **ppErrors) override;
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD dwTransactionID, DWORD dwNumItems, OPCHANDLE *phServer,
                                           FILETIME *ftTimeStamps, DWORD *pdwCancelID, HRESULT **ppErrors) override;

private:
    using Job = std::function<bool()>;  // true: run again on the next round (subscriptions)

    // Index of the item behind a server handle, or -1; its client handle.
    int ItemOf(OPCHANDLE handle, OPCHANDLE *client = nullptr);
    // Resolves an OPCHDA_TIME: false for a text other than "" and "NOW".
    bool Resolve(OPCHDA_TIME *t, bool &present, Ticks &ticks);
    HRESULT SelectRaw(int item, bool hasStart, Ticks start, bool hasEnd, Ticks end, DWORD maxValues,
                      OPCHDA_ITEM &out);
    HRESULT SelectAtTime(int item, DWORD n, const FILETIME *times, OPCHDA_ITEM &out);
    // Result records of a synchronous read: select(position, item, record)
    // for each known handle, OPC_E_INVALIDHANDLE for the others.
    HRESULT ReadEach(DWORD n, const OPCHANDLE *handles,
                     const std::function<HRESULT(DWORD, int, OPCHDA_ITEM &)> &select, OPCHDA_ITEM **items,
                     HRESULT **errors);
    // The checks an attribute read makes at once: the item and the start time.
    HRESULT CheckAttributeRead(OPCHANDLE handle, OPCHDA_TIME *start, int &item, OPCHANDLE &client);
    HRESULT SelectProcessed(int item, DWORD aggregate, Ticks start, Ticks end, Ticks interval, OPCHDA_ITEM &out);
    HRESULT SelectAttribute(int item, DWORD id, OPCHDA_ATTRIBUTE &out);
    HRESULT RemoveRange(int item, Ticks from, Ticks to);
    void LogRaw(const OPCHDA_TIME *start, const OPCHDA_TIME *end, DWORD maxValues, DWORD items);
    HRESULT QueueUpdate(int kind, DWORD tid, DWORD n, OPCHANDLE *handles, FILETIME *times, VARIANT *values,
                        DWORD *qualities, DWORD *cancelId, HRESULT **errors);
    HRESULT Update(int kind, DWORD n, OPCHANDLE *handles, FILETIME *times, VARIANT *values, DWORD *qualities,
                   HRESULT *errors);
    // Queues an asynchronous request: checks the sink and the items, hands
    // out the cancel ID and errors, and runs `deliver` (with the accepted
    // item positions) on the worker thread unless cancelled first.
    HRESULT Queue(DWORD n, OPCHANDLE *handles, DWORD *cancelId, HRESULT **errors,
                  std::function<bool(IOPCHDA_DataCallback *, const std::vector<DWORD> &)> deliver);
    void Post(Job job);
    void WorkerLoop();
    bool IsCancelled(DWORD cancelId);

    volatile LONG refs_ = 1;
    std::mutex lock_;
    std::vector<std::wstring> ids_;
    std::vector<std::vector<Point>> points_;
    std::map<OPCHANDLE, std::pair<int, OPCHANDLE>> handles_;  // item index, client handle
    OPCHANDLE nextHandle_ = 0x100;
    DWORD nextCancel_ = 500;
    std::set<DWORD> cancelled_;
    std::vector<RawRequest> rawRequests_;
    std::wstring clientName_;
    xserver::ConnectionPoint shutdown_;
    xserver::ConnectionPoint data_;

    std::mutex jobLock_;
    std::condition_variable jobReady_;
    std::vector<Job> jobs_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace fake
