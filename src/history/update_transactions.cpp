#include "history/update_transactions.h"

#include "history/item_check.h"
#include "history/update_engine.h"
#include "opchda_constants.h"
#include "runtime/server_state.h"

namespace zq {

HRESULT UpdateTransaction::Prepare()
{
    clients_.reset(ZeroedTaskArray<OPCHANDLE>(ItemCount()));
    codes_.reset(ZeroedTaskArray<HRESULT>(ItemCount()));
    return clients_ && codes_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT UpdateTransaction::CheckItem(const HandleList &handles, OPCHANDLE server,
                                     CheckedItem *found)
{
    char user[kUserNameBuffer];
    HRESULT hr = CheckUpdateItem(handles, server, found, user);
    if (hr == S_OK)
        user_ = user;
    return hr;
}

void UpdateTransaction::Run(Delivery &out)
{
    MarkDone();
    if (!clients_ || !codes_)
        return;
    CZqHDACallback *const host = Host();
    for (DWORD i = 0; i < ItemCount(); ++i) {
        const TransactionItem &item = Item(i);
        clients_[i] = item.client;
        codes_[i] = item.refused ? OPC_E_INVALIDHANDLE
                                 : UpdateItem(host, i, user_.c_str(), item.item);
    }
    out.SetUpdates(TransactionId(), ItemCount(), std::move(clients_), std::move(codes_),
                   Completion());
}

ValueUpdateTransaction::ValueUpdateTransaction(TransactionKind kind, DWORD transactionId,
                                               DWORD count, const OPCHANDLE *servers,
                                               const FILETIME *times, const DWORD *qualities)
    : UpdateTransaction(kind, transactionId, count, servers), times_(times, times + count),
      qualities_(qualities, qualities + count)
{
}

ValueUpdateTransaction::~ValueUpdateTransaction()
{
    for (VARIANT &v : values_)
        VariantClear(&v);
}

HRESULT ValueUpdateTransaction::CopyValues(const VARIANT *values)
{
    const DWORD count = ItemCount();
    values_.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT *>(&values[i]));
        if (FAILED(hr))
            return hr == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_INVALIDARG;
        values_.push_back(copy); // capacity reserved: cannot throw
    }
    return S_OK;
}

HRESULT ValueUpdateTransaction::UpdateItem(CZqHDACallback *host, DWORD i, const char *user,
                                           void *item)
{
    switch (Kind()) {
    case TransactionKind::Insert:
        return RunInsert(host, user, item, times_[i], &values_[i], qualities_[i]);
    case TransactionKind::Replace:
        return RunReplace(host, user, item, times_[i], &values_[i], qualities_[i]);
    default:
        return RunInsertReplace(host, user, item, times_[i], &values_[i], qualities_[i]);
    }
}

DeleteRawTransaction::TimeCopy::TimeCopy(const OPCHDA_TIME &t)
    : isText(t.bString), time(t.ftTime)
{
    if (isText && t.szTime != nullptr)
        text = t.szTime;
}

OPCHDA_TIME DeleteRawTransaction::TimeCopy::Record()
{
    OPCHDA_TIME record;
    record.bString = isText;
    record.szTime = isText ? &text[0] : nullptr;
    record.ftTime = time;
    return record;
}

DeleteRawTransaction::DeleteRawTransaction(DWORD transactionId, DWORD count,
                                           const OPCHANDLE *servers, const OPCHDA_TIME &start,
                                           const OPCHDA_TIME &end)
    : UpdateTransaction(TransactionKind::DeleteRaw, transactionId, count, servers), start_(start),
      end_(end)
{
}

HRESULT DeleteRawTransaction::UpdateItem(CZqHDACallback *host, DWORD, const char *user,
                                         void *item)
{
    OPCHDA_TIME start = start_.Record();
    OPCHDA_TIME end = end_.Record();
    return RunDeleteRaw(host, user, item, &start, &end);
}

DeleteAtTimeTransaction::DeleteAtTimeTransaction(DWORD transactionId, DWORD count,
                                                 const OPCHANDLE *servers, const FILETIME *times)
    : UpdateTransaction(TransactionKind::DeleteAtTime, transactionId, count, servers),
      times_(times, times + count)
{
}

HRESULT DeleteAtTimeTransaction::UpdateItem(CZqHDACallback *host, DWORD i, const char *user,
                                            void *item)
{
    return RunDeleteAtTime(host, user, item, times_[i]);
}

} // namespace zq
