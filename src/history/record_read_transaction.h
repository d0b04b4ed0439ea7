// A one-shot read transaction with one result record and one code per item,
// both allocated at request time (Prepare) and moved into the delivery by
// the run. Subclasses read one accepted item and choose the delivery; an
// item refused at request time is reported with OPC_E_INVALIDHANDLE.
#pragma once

#include "history/read_limits.h"
#include "history/transaction.h"
#include "opchda_constants.h"

namespace zq {

template <typename Record, void (*FreeArrays)(Record &)>
class RecordReadTransaction : public Transaction
{
public:
    // The results are still held only when the run did not finish: what the
    // engine had put into the records goes with them.
    ~RecordReadTransaction() override
    {
        if (results_) {
            for (DWORD i = 0; i < ItemCount(); ++i)
                FreeArrays(results_[i]);
        }
    }

    HRESULT Prepare() override
    {
        results_.reset(ZeroedTaskArray<Record>(ItemCount()));
        codes_.reset(ZeroedTaskArray<HRESULT>(ItemCount()));
        return results_ && codes_ ? S_OK : E_OUTOFMEMORY;
    }

    void Run(Delivery &out) override
    {
        MarkDone();
        if (!results_ || !codes_)
            return;
        ReplyBudget budget;
        for (DWORD i = 0; i < ItemCount(); ++i) {
            const TransactionItem &item = Item(i);
            results_[i].hClient = item.client;
            codes_[i] = item.refused ? OPC_E_INVALIDHANDLE
                                     : budget.Admit(results_[i], ReadItem(item.item, results_[i]),
                                                    FreeArrays);
        }
        Hand(out, std::move(results_), std::move(codes_));
    }

protected:
    using Transaction::Transaction;
    // The engine for one accepted item.
    virtual HRESULT ReadItem(void *item, Record &record) = 0;
    // Puts the filled arrays into the delivery.
    virtual void Hand(Delivery &out, TaskPtr<Record> results, TaskPtr<HRESULT> codes) = 0;

private:
    TaskPtr<Record> results_;
    TaskPtr<HRESULT> codes_;
};

} // namespace zq
