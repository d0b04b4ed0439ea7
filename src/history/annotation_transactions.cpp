#include "history/annotation_transactions.h"

#include "history/annotation_engine.h"
#include "opchda_constants.h"

namespace zq {

ReadAnnotationsTransaction::ReadAnnotationsTransaction(DWORD transactionId, DWORD count,
                                                       const OPCHANDLE *servers,
                                                       const FILETIME &start, const FILETIME &end)
    : Transaction(TransactionKind::ReadAnnotations, transactionId, count, servers), start_(start),
      end_(end)
{
}

// Still held only when the run did not finish: what the engine had put into
// the records goes with them.
ReadAnnotationsTransaction::~ReadAnnotationsTransaction()
{
    if (results_) {
        for (DWORD i = 0; i < ItemCount(); ++i)
            FreeAnnotationArrays(results_[i]);
    }
}

HRESULT ReadAnnotationsTransaction::Prepare()
{
    results_.reset(ZeroedTaskArray<OPCHDA_ANNOTATION>(ItemCount()));
    codes_.reset(ZeroedTaskArray<HRESULT>(ItemCount()));
    return results_ && codes_ ? S_OK : E_OUTOFMEMORY;
}

void ReadAnnotationsTransaction::Run(Delivery &out)
{
    MarkDone();
    if (!results_ || !codes_)
        return;
    for (DWORD i = 0; i < ItemCount(); ++i) {
        const TransactionItem &item = Item(i);
        results_[i].hClient = item.client;
        codes_[i] = item.refused ? OPC_E_INVALIDHANDLE
                                 : RunReadAnnotations(item.item, results_[i], start_, end_);
    }
    out.SetAnnotations(TransactionId(), ItemCount(), std::move(results_), std::move(codes_));
}

InsertAnnotationsTransaction::InsertAnnotationsTransaction(DWORD transactionId, DWORD count,
                                                           const OPCHANDLE *servers,
                                                           const FILETIME *times,
                                                           const FILETIME &annotationTime)
    : UpdateTransaction(TransactionKind::InsertAnnotations, transactionId, count, servers),
      times_(times, times + count), annotationTime_(annotationTime)
{
}

HRESULT InsertAnnotationsTransaction::CopyAnnotations(const OPCHDA_ANNOTATION *values)
{
    texts_.resize(ItemCount());
    for (DWORD i = 0; i < ItemCount(); ++i) {
        const OPCHDA_ANNOTATION &v = values[i];
        if (v.dwNumValues != 0 && v.szAnnotation == nullptr)
            return E_INVALIDARG;
        texts_[i].reserve(v.dwNumValues);
        for (DWORD j = 0; j < v.dwNumValues; ++j)
            texts_[i].emplace_back(v.szAnnotation[j] != nullptr ? v.szAnnotation[j] : L"");
    }
    return S_OK;
}

HRESULT InsertAnnotationsTransaction::UpdateItem(DWORD i, const char *user, void *item)
{
    std::vector<LPWSTR> texts;
    texts.reserve(texts_[i].size());
    for (std::wstring &t : texts_[i])
        texts.push_back(&t[0]);
    OPCHDA_ANNOTATION values{};
    values.dwNumValues = static_cast<DWORD>(texts.size());
    values.szAnnotation = texts.empty() ? nullptr : texts.data();
    return RunInsertAnnotations(user, item, times_[i], values, annotationTime_);
}

} // namespace zq
