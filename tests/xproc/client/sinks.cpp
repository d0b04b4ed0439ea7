#include "sinks.h"

#include <chrono>

namespace xclient {

bool SinkBase::WaitFor(const std::function<bool()> &ready, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready);
}

HRESULT STDMETHODCALLTYPE ShutdownSink::ShutdownRequest(LPCWSTR szReason)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        reasons_.emplace_back(szReason ? szReason : L"(null)");
    }
    Notify();
    return S_OK;
}

std::vector<std::wstring> ShutdownSink::WaitForRequests(size_t count, DWORD timeoutMs)
{
    WaitFor([this, count] { return reasons_.size() >= count; }, timeoutMs);
    std::lock_guard<std::mutex> hold(lock_);
    return reasons_;
}

void DataSink::Add(std::vector<Callback> Record::*list, Callback call)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        (record_.*list).push_back(std::move(call));
    }
    Notify();
}

void DataSink::Unexpected()
{
    std::lock_guard<std::mutex> hold(lock_);
    ++record_.unexpectedCalls;
}

DataSink::Record DataSink::WaitForDataChange(DWORD timeoutMs)
{
    return WaitForCall(&Record::dataChanges, timeoutMs);
}

DataSink::Record DataSink::WaitForCall(std::vector<Callback> Record::*list, DWORD timeoutMs)
{
    WaitFor([this, list] { return !(record_.*list).empty(); }, timeoutMs);
    std::lock_guard<std::mutex> hold(lock_);
    return record_;
}

namespace {

Callback ItemCall(DWORD tid, HRESULT status, DWORD n, const OPCHDA_ITEM *items, const HRESULT *errors)
{
    Callback call;
    call.transactionId = tid;
    call.status = status;
    for (DWORD i = 0; i < n; ++i) {
        call.items.push_back(CopyItem(items[i]));
        call.errors.push_back(errors[i]);
    }
    return call;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DataSink::OnDataChange(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                                 HRESULT *errors)
{
    Add(&Record::dataChanges, ItemCall(tid, status, n, items, errors));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadComplete(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                                   HRESULT *errors)
{
    Add(&Record::readCompletes, ItemCall(tid, status, n, items, errors));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadAttributeComplete(DWORD tid, HRESULT status, OPCHANDLE hClient, DWORD n,
                                                            OPCHDA_ATTRIBUTE *attributes, HRESULT *errors)
{
    Callback call;
    call.transactionId = tid;
    call.status = status;
    call.hClient = hClient;
    for (DWORD i = 0; i < n; ++i) {
        call.attributes.push_back(CopyAttribute(attributes[i]));
        call.errors.push_back(errors[i]);
    }
    Add(&Record::attributeCompletes, std::move(call));
    return S_OK;
}

namespace {

Callback ClientsCall(DWORD tid, HRESULT status, DWORD n, const OPCHANDLE *clients, const HRESULT *errors)
{
    Callback call;
    call.transactionId = tid;
    call.status = status;
    call.clients.assign(clients, clients + n);
    call.errors.assign(errors, errors + n);
    return call;
}

}  // namespace

HRESULT STDMETHODCALLTYPE DataSink::OnUpdateComplete(DWORD tid, HRESULT status, DWORD n, OPCHANDLE *clients,
                                                     HRESULT *errors)
{
    Add(&Record::updateCompletes, ClientsCall(tid, status, n, clients, errors));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnInsertAnnotations(DWORD tid, HRESULT status, DWORD n, OPCHANDLE *clients,
                                                        HRESULT *errors)
{
    Add(&Record::annotationInserts, ClientsCall(tid, status, n, clients, errors));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadAnnotations(DWORD tid, HRESULT status, DWORD n,
                                                      OPCHDA_ANNOTATION *annotations, HRESULT *errors)
{
    Callback call;
    call.transactionId = tid;
    call.status = status;
    for (DWORD i = 0; i < n; ++i) {
        call.annotations.push_back(CopyAnnotation(annotations[i]));
        call.errors.push_back(errors[i]);
    }
    Add(&Record::annotationReads, std::move(call));
    return S_OK;
}

// The server never sends these; a call would be a marshalling mix-up.
HRESULT STDMETHODCALLTYPE DataSink::OnReadModifiedComplete(DWORD, HRESULT, DWORD, OPCHDA_MODIFIEDITEM *, HRESULT *)
{
    Unexpected();
    return S_OK;
}


HRESULT STDMETHODCALLTYPE DataSink::OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *)
{
    Unexpected();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnCancelComplete(DWORD)
{
    Unexpected();
    return S_OK;
}

}  // namespace xclient
