// The asynchronous ReadModified: one record and one code per item, delivered
// with OnReadModifiedComplete. Times are resolved at request time.
#pragma once

#include "history/item_check.h"
#include "history/transaction.h"

namespace zq {

class ModifiedReadTransaction final : public Transaction
{
public:
    ModifiedReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                            const RawReadTimes &times, DWORD numValues);
    ~ModifiedReadTransaction() override;

    HRESULT Prepare() override;
    void Run(Delivery &out) override;

private:
    RawReadTimes times_;
    DWORD numValues_;
    TaskPtr<OPCHDA_MODIFIEDITEM> results_;
    TaskPtr<HRESULT> codes_;
};

} // namespace zq
