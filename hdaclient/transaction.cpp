#include "transaction.h"

#include <cstring>

namespace zqhda {

namespace {

LPWSTR TaskCopy(const wchar_t *text)
{
    if (!text)
        return nullptr;
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    auto *copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text, bytes);
    return copy;
}

}  // namespace

HdaTime::HdaTime(const wchar_t *text)
{
    t_.bString = TRUE;
    t_.szTime = TaskCopy(text);
}

HdaTime::HdaTime(const std::optional<TimeArg> &arg) : HdaTime(arg && arg->relative ? arg->text.c_str() : L"")
{
    if (arg && !arg->relative) {
        t_.bString = FALSE;
        t_.ftTime = arg->time;
    }
}

HdaTime::HdaTime(const HdaTime &other) : t_(other.t_)
{
    t_.szTime = TaskCopy(other.t_.szTime);
}

HdaTime HdaTime::Absolute(const FILETIME &time)
{
    HdaTime h(L"");
    h.t_.bString = FALSE;
    h.t_.ftTime = time;
    return h;
}

HdaTime HdaTime::Resolved() const
{
    if (IsNull())
        return HdaTime();
    if (t_.bString && (t_.ftTime.dwLowDateTime || t_.ftTime.dwHighDateTime))
        return Absolute(t_.ftTime);
    return *this;  // absolute already, or a server that did not write the time back
}

void TakeItemResults(OPCHDA_ITEM *items, HRESULT *errors, size_t count, std::vector<ItemOutcome> &out)
{
    out.assign(count, ItemOutcome{});
    for (size_t i = 0; i < count; ++i) {
        out[i].code = errors ? errors[i] : S_OK;
        if (items)
            out[i].data = CopyItem(items[i]);
    }
    FreeItems(items, static_cast<DWORD>(count));
    CoTaskMemFree(errors);
}

HRESULT Transactions::Run(Completion::Kind kind, size_t count, const Request &request, const Cancel &cancel,
                          std::vector<HRESULT> &requestErrors, std::optional<Completion> &completion)
{
    completion.reset();
    DWORD tid = NextTransactionId();
    DWORD cancelId = 0;
    HRESULT *errors = nullptr;
    HRESULT hr = request(tid, &cancelId, &errors);
    requestErrors.assign(count, FAILED(hr) ? hr : S_OK);
    if (FAILED(hr))
        return hr;
    bool anyAccepted = false;
    for (size_t i = 0; i < count; ++i) {
        if (errors)
            requestErrors[i] = errors[i];
        anyAccepted = anyAccepted || SUCCEEDED(requestErrors[i]);
    }
    CoTaskMemFree(errors);
    if (!anyAccepted)
        return hr;  // nothing was queued, so no callback comes
    Completion call;
    WaitOutcome waited = sink_.Next(kind, tid, timeoutMs_, call);
    if (waited == WaitOutcome::Ready) {
        completion = std::move(call);
        return hr;
    }
    cancel(cancelId);
    return waited == WaitOutcome::Timeout ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : E_ABORT;
}

void MatchItems(const std::vector<Item> &entries, const std::vector<HRESULT> &requestErrors,
                Completion &completion, std::vector<ItemOutcome> &out)
{
    out.assign(entries.size(), ItemOutcome{});
    std::vector<bool> filled(entries.size(), false);
    for (size_t i = 0; i < entries.size(); ++i)
        out[i].code = i < requestErrors.size() ? requestErrors[i] : S_OK;
    for (size_t k = 0; k < completion.items.size(); ++k) {
        for (size_t j = 0; j < entries.size(); ++j) {
            if (filled[j] || FAILED(out[j].code) || entries[j].client != completion.items[k].hClient)
                continue;
            out[j].code = k < completion.errors.size() ? completion.errors[k] : S_OK;
            out[j].data = std::move(completion.items[k]);
            filled[j] = true;
            break;
        }
    }
    // An accepted entry the completion does not mention has no result.
    for (size_t j = 0; j < entries.size(); ++j)
        if (!filled[j] && SUCCEEDED(out[j].code))
            out[j].code = E_UNEXPECTED;
}

HRESULT ReadItems(const std::vector<Item> &entries, Transactions *async, IOPCHDA_AsyncRead *asyncRead,
                  const SyncItemRead &syncRead, const Transactions::Request &asyncRequest,
                  std::vector<ItemOutcome> &out)
{
    out.clear();
    if (!async) {
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = syncRead(&items, &errors);
        if (SUCCEEDED(hr))
            TakeItemResults(items, errors, entries.size(), out);
        return hr;
    }
    std::vector<HRESULT> requestErrors;
    std::optional<Completion> completion;
    HRESULT hr = async->Run(Completion::Kind::ReadComplete, entries.size(), asyncRequest,
                            [asyncRead](DWORD id) { return asyncRead->Cancel(id); }, requestErrors, completion);
    if (FAILED(hr))
        return hr;
    Completion none;
    MatchItems(entries, requestErrors, completion ? *completion : none, out);
    return hr;
}

std::vector<OPCHANDLE> ServerHandles(const std::vector<Item> &entries)
{
    std::vector<OPCHANDLE> handles;
    for (const auto &e : entries)
        handles.push_back(e.server);
    return handles;
}

}  // namespace zqhda
