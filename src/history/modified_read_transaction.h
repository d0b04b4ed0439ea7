// The asynchronous ReadModified: one record and one code per item, delivered
// with OnReadModifiedComplete. Times are resolved at request time.
#pragma once

#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/record_read_transaction.h"
#include "history/transaction.h"

namespace zq {

class ModifiedReadTransaction final
    : public RecordReadTransaction<OPCHDA_MODIFIEDITEM, FreeModifiedArrays>
{
public:
    ModifiedReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                            const RawReadTimes &times, DWORD numValues);

private:
    HRESULT ReadItem(void *item, OPCHDA_MODIFIEDITEM &record) override;
    void Hand(Delivery &out, Records results) override;

    RawReadTimes times_;
    DWORD numValues_;
};

} // namespace zq
