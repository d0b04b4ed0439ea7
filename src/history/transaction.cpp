#include "history/transaction.h"

#include "history/annotation_engine.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/read_engine.h"

namespace zq {

Delivery::~Delivery() { Free(); }

void Delivery::Free()
{
    items_.Free();
    attributes_.Free();
    annotations_.Free();
    modified_.Free();
    clients_.reset();
    codes_.reset();
    callback_ = Callback::None;
    count_ = 0;
}

void Delivery::Start(Callback callback, DWORD transactionId, DWORD count)
{
    Free();
    callback_ = callback;
    transactionId_ = transactionId;
    count_ = count;
}

void Delivery::SetItems(Callback callback, DWORD transactionId, ItemRecords items)
{
    Start(callback, transactionId, items.Count());
    items_ = std::move(items);
}

void Delivery::SetAttributes(DWORD transactionId, OPCHANDLE client, AttributeRecords attributes)
{
    Start(Callback::AttributeComplete, transactionId, attributes.Count());
    client_ = client;
    attributes_ = std::move(attributes);
}

void Delivery::SetUpdates(DWORD transactionId, DWORD count, TaskPtr<OPCHANDLE> clients,
                          TaskPtr<HRESULT> codes, Callback callback)
{
    Start(callback, transactionId, count);
    clients_ = std::move(clients);
    codes_ = std::move(codes);
}

void Delivery::SetAnnotations(DWORD transactionId, AnnotationRecords annotations)
{
    Start(Callback::ReadAnnotations, transactionId, annotations.Count());
    annotations_ = std::move(annotations);
}

void Delivery::SetModified(DWORD transactionId, ModifiedRecords items)
{
    Start(Callback::ReadModified, transactionId, items.Count());
    modified_ = std::move(items);
}

HRESULT *Delivery::Codes() const
{
    switch (callback_) {
    case Callback::ReadComplete:
    case Callback::DataChange:
        return items_.Codes();
    case Callback::AttributeComplete:
        return attributes_.Codes();
    case Callback::ReadAnnotations:
        return annotations_.Codes();
    case Callback::ReadModified:
        return modified_.Codes();
    case Callback::UpdateComplete:
    case Callback::InsertAnnotations:
        return codes_.get();
    case Callback::None:
        break;
    }
    return nullptr;
}

HRESULT Delivery::Status() const
{
    const HRESULT *codes = Codes();
    if (codes != nullptr) {
        for (DWORD i = 0; i < count_; ++i) {
            if (codes[i] != 0)
                return S_FALSE;
        }
    }
    return S_OK;
}

namespace {
// A valid pointer for a count of 0: the stubs marshal [in] arrays as
// reference pointers and refuse null ones.
template <typename T> T *NeverNull(T *array, T &empty) { return array != nullptr ? array : &empty; }
} // namespace

HRESULT Delivery::Deliver(IOPCHDA_DataCallback *sink) const
{
    if (sink == nullptr || callback_ == Callback::None)
        return S_OK;
    HRESULT noCode = S_OK;
    HRESULT *codes = NeverNull(Codes(), noCode);
    const HRESULT status = Status();
    switch (callback_) {
    case Callback::ReadComplete:
    case Callback::DataChange: {
        OPCHDA_ITEM noItem{};
        OPCHDA_ITEM *items = NeverNull(items_.Records(), noItem);
        if (callback_ == Callback::ReadComplete)
            return sink->OnReadComplete(transactionId_, status, count_, items, codes);
        return sink->OnDataChange(transactionId_, status, count_, items, codes);
    }
    case Callback::AttributeComplete: {
        OPCHDA_ATTRIBUTE noAttribute{};
        return sink->OnReadAttributeComplete(transactionId_, status, client_, count_,
                                             NeverNull(attributes_.Records(), noAttribute), codes);
    }
    case Callback::UpdateComplete:
    case Callback::InsertAnnotations: {
        OPCHANDLE noClient = 0;
        OPCHANDLE *clients = NeverNull(clients_.get(), noClient);
        if (callback_ == Callback::UpdateComplete)
            return sink->OnUpdateComplete(transactionId_, status, count_, clients, codes);
        return sink->OnInsertAnnotations(transactionId_, status, count_, clients, codes);
    }
    case Callback::ReadModified: {
        OPCHDA_MODIFIEDITEM noItem{};
        return sink->OnReadModifiedComplete(transactionId_, status, count_,
                                            NeverNull(modified_.Records(), noItem), codes);
    }
    case Callback::ReadAnnotations: {
        OPCHDA_ANNOTATION noAnnotation{};
        return sink->OnReadAnnotations(transactionId_, status, count_,
                                       NeverNull(annotations_.Records(), noAnnotation), codes);
    }
    case Callback::None:
        break;
    }
    return S_OK;
}

Transaction::Transaction(TransactionKind kind, DWORD transactionId, DWORD count,
                         const OPCHANDLE *servers)
    : kind_(kind), transactionId_(transactionId), items_(count)
{
    for (DWORD i = 0; i < count; ++i)
        items_[i].server = servers[i];
}

HRESULT Transaction::CheckItem(const HandleList &handles, OPCHANDLE server, CheckedItem *found)
{
    return CheckReadItem(handles, server, found);
}

bool Transaction::CheckItems(const HandleList &handles, HRESULT *codes)
{
    bool refused = false;
    for (DWORD i = 0; i < ItemCount(); ++i) {
        CheckedItem found;
        HRESULT hr = CheckItem(handles, items_[i].server, &found);
        codes[i] = hr;
        if (hr == S_OK)
            Accept(i, found.client, found.item);
        else
            refused = true;
    }
    return refused;
}

void Transaction::Accept(DWORD i, OPCHANDLE client, void *item)
{
    items_[i].client = client;
    items_[i].item = item;
    items_[i].refused = false;
}

} // namespace zq
