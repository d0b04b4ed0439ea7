#include "history/modified_read_transaction.h"

namespace zq {

ModifiedReadTransaction::ModifiedReadTransaction(DWORD transactionId, DWORD count,
                                                 const OPCHANDLE *servers,
                                                 const RawReadTimes &times, DWORD numValues)
    : RecordReadTransaction(TransactionKind::ModifiedRead, transactionId, count, servers),
      times_(times), numValues_(numValues)
{
}

HRESULT ModifiedReadTransaction::ReadItem(void *item, OPCHDA_MODIFIEDITEM &record)
{
    return RunReadModified(item, record, times_.Start(), times_.End(), numValues_);
}

void ModifiedReadTransaction::Hand(Delivery &out, Records results)
{
    out.SetModified(TransactionId(), std::move(results));
}

} // namespace zq
