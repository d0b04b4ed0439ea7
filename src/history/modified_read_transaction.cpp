#include "history/modified_read_transaction.h"

#include "history/modified_engine.h"
#include "opchda_constants.h"

namespace zq {

ModifiedReadTransaction::ModifiedReadTransaction(DWORD transactionId, DWORD count,
                                                 const OPCHANDLE *servers,
                                                 const RawReadTimes &times, DWORD numValues)
    : Transaction(TransactionKind::ModifiedRead, transactionId, count, servers), times_(times),
      numValues_(numValues)
{
}

// Still held only when the run did not finish: what the engine had put into
// the records goes with them.
ModifiedReadTransaction::~ModifiedReadTransaction()
{
    if (results_) {
        for (DWORD i = 0; i < ItemCount(); ++i)
            FreeModifiedArrays(results_[i]);
    }
}

HRESULT ModifiedReadTransaction::Prepare()
{
    results_.reset(ZeroedTaskArray<OPCHDA_MODIFIEDITEM>(ItemCount()));
    codes_.reset(ZeroedTaskArray<HRESULT>(ItemCount()));
    return results_ && codes_ ? S_OK : E_OUTOFMEMORY;
}

void ModifiedReadTransaction::Run(Delivery &out)
{
    MarkDone();
    if (!results_ || !codes_)
        return;
    for (DWORD i = 0; i < ItemCount(); ++i) {
        const TransactionItem &item = Item(i);
        results_[i].hClient = item.client;
        codes_[i] = item.refused ? OPC_E_INVALIDHANDLE
                                 : RunReadModified(item.item, results_[i], times_.Start(),
                                                   times_.End(), numValues_);
    }
    out.SetModified(TransactionId(), ItemCount(), std::move(results_), std::move(codes_));
}

} // namespace zq
