// ResultRecords: the one owner of a request's result records (one record
// and one code per item or attribute, with every array the engines put into
// the records), which are one reply, within the bound of one reply
// (read_limits.h). A synchronous request hands them to the client; an
// asynchronous one moves them into the Delivery of its run. Whatever is not
// handed over is freed here, and only here, on every path.
//
// Used by one thread at a time: the client's calling thread, or the tick
// step that runs the transaction.
#pragma once

#include <windows.h>

#include <utility>

#include "history/annotation_engine.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/read_engine.h"
#include "history/read_limits.h"
#include "runtime/task_memory.h"

namespace zq {

template <typename Record, void (*FreeArrays)(Record &)> class ResultRecords
{
public:
    ResultRecords() = default;
    ResultRecords(ResultRecords &&other) noexcept
        : records_(std::move(other.records_)), codes_(std::move(other.codes_)),
          count_(std::exchange(other.count_, 0)), budget_(other.budget_)
    {
    }
    ResultRecords &operator=(ResultRecords &&other) noexcept
    {
        if (this != &other) {
            Free();
            records_ = std::move(other.records_);
            codes_ = std::move(other.codes_);
            count_ = std::exchange(other.count_, 0);
            budget_ = other.budget_;
        }
        return *this;
    }
    ResultRecords(const ResultRecords &) = delete;
    ResultRecords &operator=(const ResultRecords &) = delete;
    ~ResultRecords() { Free(); }

    // Zeroed records and codes for count entries (what was held is freed
    // first); false without memory, and then nothing is held.
    bool Allocate(DWORD count)
    {
        Free();
        // The codes first: a request that cannot have them fails at its
        // first allocation.
        codes_.reset(ZeroedTaskArray<HRESULT>(count));
        if (codes_)
            records_.reset(ZeroedTaskArray<Record>(count));
        if (!records_ || !codes_) {
            Free();
            return false;
        }
        count_ = count;
        budget_ = ReplyBudget();
        return true;
    }

    bool Held() const { return records_ && codes_; }
    DWORD Count() const { return count_; }
    Record &operator[](DWORD i) { return records_[i]; }
    HRESULT &Code(DWORD i) { return codes_[i]; }
    Record *Records() const { return records_.get(); }
    HRESULT *Codes() const { return codes_.get(); }

    // Record i's code once its engine has run: the engine's, or
    // OPC_E_MAXEXCEEDED (and the record emptied) when the reply has no room
    // left for its values.
    HRESULT Admit(DWORD i, HRESULT code) { return budget_.Admit(records_[i], code, FreeArrays); }

    // The overall result of a read over the codes.
    HRESULT OverallRead() const { return OverallReadResult(codes_.get(), count_); }

    // Hands records and codes to the client, who frees them; nothing is
    // held afterwards.
    void HandTo(Record **records, HRESULT **codes)
    {
        *records = records_.release();
        *codes = codes_.release();
        count_ = 0;
    }

    // Takes over records and codes that a request handed out (count
    // entries; null for none), to free them here. What was held is freed
    // first.
    void Adopt(Record *records, HRESULT *codes, DWORD count)
    {
        Free();
        records_.reset(records);
        codes_.reset(codes);
        count_ = records != nullptr ? count : 0;
    }

    // Empties every record (its arrays) and gives both arrays back.
    void Free()
    {
        if (records_) {
            for (DWORD i = 0; i < count_; ++i)
                FreeArrays(records_[i]);
        }
        records_.reset();
        codes_.reset();
        count_ = 0;
    }

private:
    TaskPtr<Record> records_;
    TaskPtr<HRESULT> codes_;
    DWORD count_ = 0;
    ReplyBudget budget_;
};

using ItemRecords = ResultRecords<OPCHDA_ITEM, FreeItemArrays>;
using AttributeRecords = ResultRecords<OPCHDA_ATTRIBUTE, FreeAttributeArrays>;
using AnnotationRecords = ResultRecords<OPCHDA_ANNOTATION, FreeAnnotationArrays>;
using ModifiedRecords = ResultRecords<OPCHDA_MODIFIEDITEM, FreeModifiedArrays>;

} // namespace zq
