// The client's side of the server's connection points: the IOPCShutdown sink
// and the IOPCHDA_DataCallback sink, plus the two signals every wait watches
// (Ctrl+C and the server's shutdown request).
#pragma once

#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "opccomn.h"
#include "opchda.h"
#include "values.h"

namespace zqhda {

// ---- results copied out of the server's arrays ---------------------------

struct Sample
{
    FILETIME time{};
    DWORD quality = 0;
    Variant value;
};

struct ItemData
{
    OPCHANDLE hClient = 0;
    DWORD aggregate = 0;
    std::vector<Sample> samples;
};

struct AttributeData
{
    OPCHANDLE hClient = 0;
    DWORD id = 0;
    std::vector<Sample> samples;  // quality unused
};

// Copies of one record; missing arrays (null pointers) leave fields zero.
ItemData CopyItem(const OPCHDA_ITEM &item);
AttributeData CopyAttribute(const OPCHDA_ATTRIBUTE &attribute);
// Frees what a synchronous call handed over: the arrays in each record and
// the record array.
void FreeItems(OPCHDA_ITEM *items, DWORD count);
void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count);
void FreeModifiedItems(OPCHDA_MODIFIEDITEM *items, DWORD count);
void FreeAnnotations(OPCHDA_ANNOTATION *annotations, DWORD count);

// ---- signals and waits ---------------------------------------------------

enum class WaitOutcome { Ready, Timeout, Interrupted, Shutdown };

class Signals
{
public:
    // Ctrl+C (and Ctrl+Break, close) raise the interrupt; a second Ctrl+C
    // ends the process at once with status 2.
    static void InstallConsoleHandler();
    static void RaiseInterrupt();
    static void RaiseShutdown(const std::wstring &reason);
    static bool Interrupted();
    static bool ShutdownRequested();
    static std::wstring ShutdownReason();
    // Clears both (tests).
    static void Reset();

    static HANDLE InterruptEvent();
    static HANDLE ShutdownEvent();
};

// Waits for `ready` (may be null), the interrupt or the shutdown request.
WaitOutcome WaitAny(HANDLE ready, DWORD timeoutMs);

// Milliseconds of a number of seconds, for the wait functions.
DWORD Milliseconds(double seconds);

// ---- sinks ----------------------------------------------------------------

// Reference counting shared by both sinks.
template <class Interface>
class SinkObject : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == __uuidof(Interface)) {
            *ppv = static_cast<Interface *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

protected:
    virtual ~SinkObject() = default;

private:
    volatile LONG refs_ = 1;
};

class ShutdownSink final : public SinkObject<IOPCShutdown>
{
public:
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;
};

// One call on the data callback.
struct Completion
{
    enum class Kind { ReadComplete, DataChange, AttributeComplete, UpdateComplete, CancelComplete, Other };
    Kind kind = Kind::Other;
    DWORD transactionId = 0;  // the cancel ID for CancelComplete
    HRESULT status = S_OK;
    OPCHANDLE hClient = 0;  // AttributeComplete
    std::vector<ItemData> items;
    std::vector<AttributeData> attributes;
    std::vector<OPCHANDLE> clients;  // UpdateComplete
    std::vector<HRESULT> errors;
};

class DataSink final : public SinkObject<IOPCHDA_DataCallback>
{
public:
    DataSink();
    ~DataSink() override;

    // Waits for the next call of `kind` for the transaction; calls for other
    // transactions stay queued.
    WaitOutcome Next(Completion::Kind kind, DWORD transactionId, DWORD timeoutMs, Completion &out);

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

private:
    void Push(Completion call);
    Completion ItemCall(Completion::Kind kind, DWORD tid, HRESULT status, DWORD n, const OPCHDA_ITEM *items,
                        const HRESULT *errors);

    std::mutex lock_;
    std::deque<Completion> queue_;
    HANDLE arrived_;
};

}  // namespace zqhda
