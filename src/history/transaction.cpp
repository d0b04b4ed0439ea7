#include "history/transaction.h"

#include "history/annotation_engine.h"
#include "history/item_check.h"
#include "history/modified_engine.h"
#include "history/read_engine.h"

namespace zq {

Delivery::~Delivery() { Free(); }

void Delivery::Free()
{
    FreeRecords(items_, count_, FreeItemArrays);
    FreeRecords(attributes_, count_, FreeAttributeArrays);
    FreeRecords(annotations_, count_, FreeAnnotationArrays);
    FreeRecords(modified_, count_, FreeModifiedArrays);
    clients_.reset();
    codes_.reset();
    callback_ = Callback::None;
    count_ = 0;
}

void Delivery::SetItems(Callback callback, DWORD transactionId, DWORD count,
                        TaskPtr<OPCHDA_ITEM> items, TaskPtr<HRESULT> codes)
{
    Free();
    callback_ = callback;
    transactionId_ = transactionId;
    count_ = count;
    items_ = std::move(items);
    codes_ = std::move(codes);
}

void Delivery::SetAttributes(DWORD transactionId, OPCHANDLE client, DWORD count,
                             TaskPtr<OPCHDA_ATTRIBUTE> attributes, TaskPtr<HRESULT> codes)
{
    Free();
    callback_ = Callback::AttributeComplete;
    transactionId_ = transactionId;
    client_ = client;
    count_ = count;
    attributes_ = std::move(attributes);
    codes_ = std::move(codes);
}

void Delivery::SetUpdates(DWORD transactionId, DWORD count, TaskPtr<OPCHANDLE> clients,
                          TaskPtr<HRESULT> codes, Callback callback)
{
    Free();
    callback_ = callback;
    transactionId_ = transactionId;
    count_ = count;
    clients_ = std::move(clients);
    codes_ = std::move(codes);
}

void Delivery::SetAnnotations(DWORD transactionId, DWORD count,
                              TaskPtr<OPCHDA_ANNOTATION> annotations, TaskPtr<HRESULT> codes)
{
    Free();
    callback_ = Callback::ReadAnnotations;
    transactionId_ = transactionId;
    count_ = count;
    annotations_ = std::move(annotations);
    codes_ = std::move(codes);
}

void Delivery::SetModified(DWORD transactionId, DWORD count, TaskPtr<OPCHDA_MODIFIEDITEM> items,
                           TaskPtr<HRESULT> codes)
{
    Free();
    callback_ = Callback::ReadModified;
    transactionId_ = transactionId;
    count_ = count;
    modified_ = std::move(items);
    codes_ = std::move(codes);
}

HRESULT Delivery::Status() const
{
    if (codes_) {
        for (DWORD i = 0; i < count_; ++i) {
            if (codes_[i] != 0)
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
    HRESULT *codes = NeverNull(codes_.get(), noCode);
    const HRESULT status = Status();
    switch (callback_) {
    case Callback::ReadComplete:
    case Callback::DataChange: {
        OPCHDA_ITEM noItem{};
        OPCHDA_ITEM *items = NeverNull(items_.get(), noItem);
        if (callback_ == Callback::ReadComplete)
            return sink->OnReadComplete(transactionId_, status, count_, items, codes);
        return sink->OnDataChange(transactionId_, status, count_, items, codes);
    }
    case Callback::AttributeComplete: {
        OPCHDA_ATTRIBUTE noAttribute{};
        return sink->OnReadAttributeComplete(transactionId_, status, client_, count_,
                                             NeverNull(attributes_.get(), noAttribute), codes);
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
                                            NeverNull(modified_.get(), noItem), codes);
    }
    case Callback::ReadAnnotations: {
        OPCHDA_ANNOTATION noAnnotation{};
        return sink->OnReadAnnotations(transactionId_, status, count_,
                                       NeverNull(annotations_.get(), noAnnotation), codes);
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
