#include "sinks.h"

namespace zqhda {

namespace {

struct SignalState
{
    HANDLE interrupt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE shutdown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    volatile LONG interrupts = 0;
    std::mutex lock;
    std::wstring reason;
};

SignalState &State()
{
    static SignalState state;
    return state;
}

BOOL WINAPI ConsoleHandler(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    if (InterlockedIncrement(&State().interrupts) > 1)
        ExitProcess(2);  // asked twice: do not wait for a call that hangs
    SetEvent(State().interrupt);
    return TRUE;
}

// Runs a callback's body; nothing may be thrown back into the caller's COM
// runtime, so running out of memory becomes E_OUTOFMEMORY.
template <class Body>
HRESULT Guarded(Body body)
{
    try {
        body();
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

ItemData CopyItem(const OPCHDA_ITEM &item)
{
    ItemData data;
    data.hClient = item.hClient;
    data.aggregate = item.haAggregate;
    data.samples.resize(item.dwCount);
    for (DWORD i = 0; i < item.dwCount; ++i) {
        Sample &s = data.samples[i];
        if (item.pftTimeStamps)
            s.time = item.pftTimeStamps[i];
        if (item.pdwQualities)
            s.quality = item.pdwQualities[i];
        if (item.pvDataValues)
            s.value = Variant::CopyOf(item.pvDataValues[i]);
    }
    return data;
}

AttributeData CopyAttribute(const OPCHDA_ATTRIBUTE &attribute)
{
    AttributeData data;
    data.hClient = attribute.hClient;
    data.id = attribute.dwAttributeID;
    data.samples.resize(attribute.dwNumValues);
    for (DWORD i = 0; i < attribute.dwNumValues; ++i) {
        if (attribute.ftTimeStamps)
            data.samples[i].time = attribute.ftTimeStamps[i];
        if (attribute.vAttributeValues)
            data.samples[i].value = Variant::CopyOf(attribute.vAttributeValues[i]);
    }
    return data;
}

void FreeItems(OPCHDA_ITEM *items, DWORD count)
{
    for (DWORD i = 0; items && i < count; ++i) {
        if (items[i].pvDataValues)
            for (DWORD j = 0; j < items[i].dwCount; ++j)
                VariantClear(&items[i].pvDataValues[j]);
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
    }
    CoTaskMemFree(items);
}

void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count)
{
    for (DWORD i = 0; attributes && i < count; ++i) {
        if (attributes[i].vAttributeValues)
            for (DWORD j = 0; j < attributes[i].dwNumValues; ++j)
                VariantClear(&attributes[i].vAttributeValues[j]);
        CoTaskMemFree(attributes[i].ftTimeStamps);
        CoTaskMemFree(attributes[i].vAttributeValues);
    }
    CoTaskMemFree(attributes);
}

void FreeModifiedItems(OPCHDA_MODIFIEDITEM *items, DWORD count)
{
    for (DWORD i = 0; items && i < count; ++i) {
        OPCHDA_MODIFIEDITEM &m = items[i];
        for (DWORD k = 0; k < m.dwCount; ++k) {
            if (m.pvDataValues)
                VariantClear(&m.pvDataValues[k]);
            if (m.szUser)
                CoTaskMemFree(m.szUser[k]);
        }
        CoTaskMemFree(m.pftTimeStamps);
        CoTaskMemFree(m.pdwQualities);
        CoTaskMemFree(m.pvDataValues);
        CoTaskMemFree(m.pftModificationTime);
        CoTaskMemFree(m.pEditType);
        CoTaskMemFree(m.szUser);
    }
    CoTaskMemFree(items);
}

void FreeAnnotations(OPCHDA_ANNOTATION *annotations, DWORD count)
{
    for (DWORD i = 0; annotations && i < count; ++i) {
        OPCHDA_ANNOTATION &a = annotations[i];
        for (DWORD k = 0; k < a.dwNumValues; ++k) {
            if (a.szAnnotation)
                CoTaskMemFree(a.szAnnotation[k]);
            if (a.szUser)
                CoTaskMemFree(a.szUser[k]);
        }
        CoTaskMemFree(a.ftTimeStamps);
        CoTaskMemFree(a.szAnnotation);
        CoTaskMemFree(a.ftAnnotationTime);
        CoTaskMemFree(a.szUser);
    }
    CoTaskMemFree(annotations);
}

void Signals::InstallConsoleHandler()
{
    State();
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

void Signals::RaiseInterrupt()
{
    InterlockedIncrement(&State().interrupts);
    SetEvent(State().interrupt);
}

void Signals::RaiseShutdown(const std::wstring &reason)
{
    {
        std::lock_guard<std::mutex> hold(State().lock);
        State().reason = reason;
    }
    SetEvent(State().shutdown);
}

bool Signals::Interrupted()
{
    return WaitForSingleObject(State().interrupt, 0) == WAIT_OBJECT_0;
}

bool Signals::ShutdownRequested()
{
    return WaitForSingleObject(State().shutdown, 0) == WAIT_OBJECT_0;
}

std::wstring Signals::ShutdownReason()
{
    std::lock_guard<std::mutex> hold(State().lock);
    return State().reason;
}

void Signals::Reset()
{
    ResetEvent(State().interrupt);
    ResetEvent(State().shutdown);
    InterlockedExchange(&State().interrupts, 0);
    std::lock_guard<std::mutex> hold(State().lock);
    State().reason.clear();
}

HANDLE Signals::InterruptEvent()
{
    return State().interrupt;
}

HANDLE Signals::ShutdownEvent()
{
    return State().shutdown;
}

WaitOutcome WaitAny(HANDLE ready, DWORD timeoutMs)
{
    HANDLE handles[3] = {Signals::InterruptEvent(), Signals::ShutdownEvent(), ready};
    DWORD n = ready ? 3 : 2;
    switch (WaitForMultipleObjects(n, handles, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0: return WaitOutcome::Interrupted;
    case WAIT_OBJECT_0 + 1: return WaitOutcome::Shutdown;
    case WAIT_OBJECT_0 + 2: return WaitOutcome::Ready;
    default: return WaitOutcome::Timeout;
    }
}

DWORD Milliseconds(double seconds)
{
    double ms = seconds * 1000.0;
    return ms >= 4294967294.0 ? 4294967294u : ms <= 0 ? 0u : static_cast<DWORD>(ms);
}

HRESULT STDMETHODCALLTYPE ShutdownSink::ShutdownRequest(LPCWSTR szReason)
{
    return Guarded([&] { Signals::RaiseShutdown(szReason ? szReason : L""); });
}

DataSink::DataSink() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

DataSink::~DataSink()
{
    CloseHandle(arrived_);
}

void DataSink::Push(Completion call)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(std::move(call));
    }
    SetEvent(arrived_);
}

WaitOutcome DataSink::Next(Completion::Kind kind, DWORD transactionId, DWORD timeoutMs, Completion &out)
{
    DWORD start = GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (auto it = queue_.begin(); it != queue_.end(); ++it)
                if (it->kind == kind && it->transactionId == transactionId) {
                    out = std::move(*it);
                    queue_.erase(it);
                    return WaitOutcome::Ready;
                }
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs)
            return WaitOutcome::Timeout;
        WaitOutcome outcome = WaitAny(arrived_, timeoutMs - waited);
        if (outcome != WaitOutcome::Ready && outcome != WaitOutcome::Timeout)
            return outcome;
    }
}

Completion DataSink::ItemCall(Completion::Kind kind, DWORD tid, HRESULT status, DWORD n, const OPCHDA_ITEM *items,
                              const HRESULT *errors)
{
    Completion call;
    call.kind = kind;
    call.transactionId = tid;
    call.status = status;
    for (DWORD i = 0; items && i < n; ++i) {
        call.items.push_back(CopyItem(items[i]));
        call.errors.push_back(errors ? errors[i] : S_OK);
    }
    return call;
}

HRESULT STDMETHODCALLTYPE DataSink::OnDataChange(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                                 HRESULT *errors)
{
    return Guarded([&] {
        Push(ItemCall(Completion::Kind::DataChange, tid, status, n, items, errors));
    });
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadComplete(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                                   HRESULT *errors)
{
    return Guarded([&] {
        Push(ItemCall(Completion::Kind::ReadComplete, tid, status, n, items, errors));
    });
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadAttributeComplete(DWORD tid, HRESULT status, OPCHANDLE hClient, DWORD n,
                                                            OPCHDA_ATTRIBUTE *attributes, HRESULT *errors)
{
    return Guarded([&] {
        Completion call;
        call.kind = Completion::Kind::AttributeComplete;
        call.transactionId = tid;
        call.status = status;
        call.hClient = hClient;
        for (DWORD i = 0; attributes && i < n; ++i) {
            call.attributes.push_back(CopyAttribute(attributes[i]));
            call.errors.push_back(errors ? errors[i] : S_OK);
        }
        Push(std::move(call));
    });
}

HRESULT STDMETHODCALLTYPE DataSink::OnUpdateComplete(DWORD tid, HRESULT status, DWORD n, OPCHANDLE *clients,
                                                     HRESULT *errors)
{
    return Guarded([&] {
        Completion call;
        call.kind = Completion::Kind::UpdateComplete;
        call.transactionId = tid;
        call.status = status;
        for (DWORD i = 0; clients && i < n; ++i) {
            call.clients.push_back(clients[i]);
            call.errors.push_back(errors ? errors[i] : S_OK);
        }
        Push(std::move(call));
    });
}

HRESULT STDMETHODCALLTYPE DataSink::OnCancelComplete(DWORD cancelId)
{
    return Guarded([&] {
        Completion call;
        call.kind = Completion::Kind::CancelComplete;
        call.transactionId = cancelId;
        Push(std::move(call));
    });
}

// Calls this client never asks for: acknowledged and dropped.
HRESULT STDMETHODCALLTYPE DataSink::OnReadModifiedComplete(DWORD, HRESULT, DWORD, OPCHDA_MODIFIEDITEM *, HRESULT *)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadAnnotations(DWORD, HRESULT, DWORD, OPCHDA_ANNOTATION *, HRESULT *)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnInsertAnnotations(DWORD, HRESULT, DWORD, OPCHANDLE *, HRESULT *)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DataSink::OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *)
{
    return S_OK;
}

}  // namespace zqhda
