// The update transactions: insert, replace, insert-replace, raw delete and
// delete at time, each delivered with OnUpdateComplete (one completion
// client handle and one code per item). The client's values and times are
// copied at request time; the user name comes from the handle entries of
// the items that passed the write check ("Unknown" until one does).
#pragma once

#include <string>
#include <vector>

#include "history/transaction.h"
#include "ZqHDAsvr.h"

namespace zq {

class UpdateTransaction : public Transaction
{
public:
    HRESULT Prepare() override;
    void Run(Delivery &out) override;
    const std::string &UserName() const { return user_; }

protected:
    using Transaction::Transaction;
    // Write check; an entry that passes makes its user name the
    // transaction's.
    HRESULT CheckItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found) override;
    // The engine for one accepted item.
    virtual HRESULT UpdateItem(CZqHDACallback *host, DWORD i, const char *user, void *item) = 0;
    // The sink method that reports the run.
    virtual Delivery::Callback Completion() const { return Delivery::Callback::UpdateComplete; }

private:
    std::string user_ = "Unknown";
    TaskPtr<OPCHANDLE> clients_;
    TaskPtr<HRESULT> codes_;
};

// Insert, replace and insert-replace: a time stamp, a value and a quality
// per item.
class ValueUpdateTransaction final : public UpdateTransaction
{
public:
    // kind: Insert, Replace or InsertReplace.
    ValueUpdateTransaction(TransactionKind kind, DWORD transactionId, DWORD count,
                           const OPCHANDLE *servers, const FILETIME *times,
                           const DWORD *qualities);
    ~ValueUpdateTransaction() override;

    // Copies the client's values, one per item: S_OK, E_OUTOFMEMORY, or
    // E_INVALIDARG for a value that cannot be copied. A value held by
    // reference is copied by value, since what it refers to is the client's
    // only for the duration of the request's call.
    HRESULT CopyValues(const VARIANT *values);

private:
    HRESULT UpdateItem(CZqHDACallback *host, DWORD i, const char *user, void *item) override;

    std::vector<FILETIME> times_;
    std::vector<DWORD> qualities_;
    std::vector<VARIANT> values_; // each initialised; cleared at destruction
};

// A raw delete: the client's two time records, unresolved (a relative text
// reaches the host as text).
class DeleteRawTransaction final : public UpdateTransaction
{
public:
    DeleteRawTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                         const OPCHDA_TIME &start, const OPCHDA_TIME &end);

private:
    struct TimeCopy
    {
        explicit TimeCopy(const OPCHDA_TIME &t);
        // A fresh record for one host call, so that a host writing into the
        // record it gets cannot change what the next item receives.
        OPCHDA_TIME Record();

        BOOL isText;
        std::wstring text;
        FILETIME time;
    };

    HRESULT UpdateItem(CZqHDACallback *host, DWORD i, const char *user, void *item) override;

    TimeCopy start_;
    TimeCopy end_;
};

class DeleteAtTimeTransaction final : public UpdateTransaction
{
public:
    DeleteAtTimeTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                            const FILETIME *times);

private:
    HRESULT UpdateItem(CZqHDACallback *host, DWORD i, const char *user, void *item) override;

    std::vector<FILETIME> times_;
};

} // namespace zq
