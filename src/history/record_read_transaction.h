// A one-shot read transaction with one result record and one code per item,
// both allocated at request time (Prepare) and moved into the delivery by
// the run. Subclasses read one accepted item and choose the delivery; an
// item refused at request time is reported with OPC_E_INVALIDHANDLE. All
// records together are one delivery, within the bound of one reply.
#pragma once

#include "history/read_limits.h"
#include "history/transaction.h"
#include "opchda_constants.h"

namespace zq {

template <typename Record, void (*FreeArrays)(Record &)>
class RecordReadTransaction : public Transaction
{
public:
    using Records = ResultRecords<Record, FreeArrays>;

    // The results are still held at destruction only when the run did not
    // finish: ResultRecords frees them.
    HRESULT Prepare() override
    {
        return results_.Allocate(ItemCount()) ? S_OK : E_OUTOFMEMORY;
    }

    void Run(Delivery &out) override
    {
        MarkDone();
        if (!results_.Held())
            return;
        ReplyBudget budget;
        for (DWORD i = 0; i < ItemCount(); ++i) {
            const TransactionItem &item = Item(i);
            results_[i].hClient = item.client;
            results_.Code(i) = item.refused ? OPC_E_INVALIDHANDLE
                                            : results_.Admit(i, ReadItem(item.item, results_[i]));
        }
        Hand(out, std::move(results_));
    }

protected:
    using Transaction::Transaction;
    // The engine for one accepted item.
    virtual HRESULT ReadItem(void *item, Record &record) = 0;
    // Puts the filled arrays into the delivery.
    virtual void Hand(Delivery &out, Records results) = 0;

private:
    Records results_;
};

} // namespace zq
