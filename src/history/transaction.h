// Asynchronous transactions: what an asynchronous read or update request
// leaves on its client's transaction list, and what one run of it hands to
// the client's IOPCHDA_DataCallback sink.
//
// A request checks its arguments and items on the client's thread, builds a
// record with everything the run will need (copies of the client's arrays,
// the result arrays from the task allocator) and appends it under the client
// lock. The tick step runs every record once under the client lock: the
// engines fill the results, which move into a Delivery; the step calls the
// sink after leaving the lock and then frees what was delivered. One-shot
// records are done after their run; an advise stays until cancelled,
// until the client's sink is gone, or until the client object is destroyed.
//
// Records own everything they hold (RAII): destroying one on any path, a
// refused request, a cancel or the client's destruction, gives back every
// array and clears every stored VARIANT.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "history/result_records.h"
#include "opchda.h"
#include "runtime/handle_list.h"
#include "runtime/task_memory.h"

namespace zq {

enum class TransactionKind : DWORD
{
    RawRead = 1,
    AtTimeRead = 2,
    AttributeRead = 3,
    RawAdvise = 4,
    ProcessedRead = 5,
    Insert = 6,
    Replace = 7,
    InsertReplace = 8,
    DeleteRaw = 9,
    DeleteAtTime = 10,
    ReadAnnotations = 11,
    InsertAnnotations = 12,
    ModifiedRead = 13,
    ProcessedAdvise = 14,
};

// The client handle reported for an item refused at request time.
constexpr OPCHANDLE kRefusedClientHandle = 0xFFFFFFFF;

// One callback to the client's sink with the arrays it passes, owned until
// the delivery is destroyed (the arrays inside the result records included).
// An empty delivery calls nothing.
class Delivery
{
public:
    enum class Callback
    {
        None,
        ReadComplete,      // OnReadComplete: items, codes
        DataChange,        // OnDataChange: items, codes
        AttributeComplete, // OnReadAttributeComplete: client handle, attributes, codes
        UpdateComplete,    // OnUpdateComplete: client handles, codes
        ReadAnnotations,   // OnReadAnnotations: annotations, codes
        InsertAnnotations, // OnInsertAnnotations: client handles, codes
        ReadModified,      // OnReadModifiedComplete: modified items, codes
    };

    Delivery() = default;
    Delivery(Delivery &&) noexcept = default;
    Delivery &operator=(Delivery &&) = delete;
    Delivery(const Delivery &) = delete;
    Delivery &operator=(const Delivery &) = delete;
    ~Delivery();

    // Each takes the records (and their codes) over.
    void SetItems(Callback callback, DWORD transactionId, ItemRecords items);
    void SetAttributes(DWORD transactionId, OPCHANDLE client, AttributeRecords attributes);
    // callback: UpdateComplete or InsertAnnotations.
    void SetUpdates(DWORD transactionId, DWORD count, TaskPtr<OPCHANDLE> clients,
                    TaskPtr<HRESULT> codes, Callback callback = Callback::UpdateComplete);
    void SetAnnotations(DWORD transactionId, AnnotationRecords annotations);
    void SetModified(DWORD transactionId, ModifiedRecords items);

    Callback Kind() const { return callback_; }
    explicit operator bool() const { return callback_ != Callback::None; }
    // S_OK when every code is 0, else S_FALSE (success codes such as
    // OPC_S_MOREDATA count as non-zero).
    HRESULT Status() const;

    // Makes the call on the sink and returns its answer (which only tells
    // whether the client is still there). Arrays are never passed null: the
    // published stubs refuse null [in] arrays.
    HRESULT Deliver(IOPCHDA_DataCallback *sink) const;

    // The cancel ID of the transaction that the delivery belongs to.
    DWORD CancelId() const { return cancelId_; }
    void SetCancelId(DWORD id) { cancelId_ = id; }

private:
    void Free();
    // Frees what was held and starts a delivery of count entries.
    void Start(Callback callback, DWORD transactionId, DWORD count);
    // The codes of whichever records are held (null for none).
    HRESULT *Codes() const;

    Callback callback_ = Callback::None;
    DWORD cancelId_ = 0;
    DWORD transactionId_ = 0;
    DWORD count_ = 0;
    OPCHANDLE client_ = 0;
    ItemRecords items_;
    AttributeRecords attributes_;
    AnnotationRecords annotations_;
    ModifiedRecords modified_;
    // Updates: client handles and codes, no records.
    TaskPtr<OPCHANDLE> clients_;
    TaskPtr<HRESULT> codes_;
};

// One item of a request: the server handle the client sent, and the client
// handle and item of the handle entry it named at request time. An item
// refused at request time is marked separately: 0xFFFFFFFF is a legal
// client handle.
struct TransactionItem
{
    OPCHANDLE server = 0;
    OPCHANDLE client = kRefusedClientHandle;
    void *item = nullptr;
    bool refused = true;
};

struct CheckedItem;

class Transaction
{
public:
    virtual ~Transaction() = default;
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    TransactionKind Kind() const { return kind_; }
    DWORD TransactionId() const { return transactionId_; }
    DWORD CancelId() const { return cancelId_; }
    void SetCancelId(DWORD id) { cancelId_ = id; }
    bool Done() const { return done_; }
    void MarkDone() { done_ = true; }
    DWORD ItemCount() const { return static_cast<DWORD>(items_.size()); }
    const TransactionItem &Item(DWORD i) const { return items_[i]; }

    // Allocates the task-memory arrays the run will fill and takes the
    // copies that can fail: S_OK, E_OUTOFMEMORY, or E_INVALIDARG for a
    // client value that cannot be copied.
    virtual HRESULT Prepare() = 0;

    // The item check of every item in request order (reads: read allowed,
    // updates: write allowed). Each item's request-time code goes to
    // codes[i]; true if any item was refused.
    bool CheckItems(const HandleList &handles, HRESULT *codes);

    // Runs the transaction once (the step holds the client lock) and puts
    // what is to be delivered into out. One-shot kinds mark themselves done.
    virtual void Run(Delivery &out) = 0;

    // Whether another run would deliver at once (an advise with more
    // than one window due); the step then runs it again, within its limit.
    virtual bool Behind() const { return false; }

protected:
    // Takes a copy of the item handles (may throw std::bad_alloc).
    Transaction(TransactionKind kind, DWORD transactionId, DWORD count, const OPCHANDLE *servers);

    // Per-item check; on S_OK the entry's client handle and item are in *found.
    virtual HRESULT CheckItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found);

    // Marks one item as accepted with its entry's client handle and item
    // (used by requests that check their one item themselves).
    void Accept(DWORD i, OPCHANDLE client, void *item);

private:
    TransactionKind kind_;
    DWORD transactionId_;
    DWORD cancelId_ = 0;
    bool done_ = false;
    std::vector<TransactionItem> items_;
};

} // namespace zq
