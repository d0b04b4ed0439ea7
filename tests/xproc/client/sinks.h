// The client's callback objects: they copy what the server sends, so that a
// test can wait for a call (with a timeout) and check it afterwards.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "com_object.h"
#include "results.h"

namespace xclient {

// The wait shared by both sinks.
class SinkBase
{
public:
    // Waits until ready() holds (checked under the sink's lock) or the
    // timeout has passed; returns ready().
    bool WaitFor(const std::function<bool()> &ready, DWORD timeoutMs);

protected:
    void Notify() { changed_.notify_all(); }
    std::mutex lock_;

private:
    std::condition_variable changed_;
};

class ShutdownSink final : public xproc::SingleInterface<IOPCShutdown>, public SinkBase
{
public:
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

    // Waits for at least `count` requests; returns every reason received.
    std::vector<std::wstring> WaitForRequests(size_t count, DWORD timeoutMs);

private:
    std::vector<std::wstring> reasons_;
};

// One recorded callback.
struct Callback
{
    DWORD transactionId = 0;
    HRESULT status = S_OK;
    OPCHANDLE hClient = 0;  // OnReadAttributeComplete only
    std::vector<OwnedItem> items;
    std::vector<OwnedAttribute> attributes;
    std::vector<OwnedAnnotation> annotations;  // OnReadAnnotations only
    std::vector<OPCHANDLE> clients;  // OnUpdateComplete and OnInsertAnnotations only
    std::vector<HRESULT> errors;
};

class DataSink final : public xproc::SingleInterface<IOPCHDA_DataCallback>, public SinkBase
{
public:
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                           HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                             HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadModifiedComplete(DWORD tid, HRESULT status, DWORD n,
                                                     OPCHDA_MODIFIEDITEM *items, HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadAttributeComplete(DWORD tid, HRESULT status, OPCHANDLE hClient, DWORD n,
                                                      OPCHDA_ATTRIBUTE *attributes, HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadAnnotations(DWORD tid, HRESULT status, DWORD n,
                                                OPCHDA_ANNOTATION *annotations, HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnInsertAnnotations(DWORD tid, HRESULT status, DWORD n, OPCHANDLE *clients,
                                                  HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnPlayback(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM **items,
                                         HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD tid, HRESULT status, DWORD n, OPCHANDLE *clients,
                                               HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD cancelId) override;

    // Recorded calls by kind.
    struct Record
    {
        std::vector<Callback> dataChanges, readCompletes, attributeCompletes, updateCompletes;
        std::vector<Callback> annotationReads, annotationInserts;
        int unexpectedCalls = 0;
    };
    // Waits until OnDataChange (which the server sends last) has arrived;
    // returns everything recorded.
    Record WaitForDataChange(DWORD timeoutMs);
    // Waits until `list` holds at least one call; returns everything recorded.
    Record WaitForCall(std::vector<Callback> Record::*list, DWORD timeoutMs);

private:
    void Add(std::vector<Callback> Record::*list, Callback call);
    void Unexpected();
    Record record_;
};

}  // namespace xclient
