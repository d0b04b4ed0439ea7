#include "history/annotation_transactions.h"

#include "history/annotation_engine.h"
#include "opchda_constants.h"

namespace zq {

ReadAnnotationsTransaction::ReadAnnotationsTransaction(DWORD transactionId, DWORD count,
                                                       const OPCHANDLE *servers,
                                                       const FILETIME &start, const FILETIME &end)
    : RecordReadTransaction(TransactionKind::ReadAnnotations, transactionId, count, servers),
      start_(start), end_(end)
{
}

HRESULT ReadAnnotationsTransaction::ReadItem(void *item, OPCHDA_ANNOTATION &record)
{
    return RunReadAnnotations(item, record, start_, end_);
}

void ReadAnnotationsTransaction::Hand(Delivery &out, Records results)
{
    out.SetAnnotations(TransactionId(), std::move(results));
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

HRESULT InsertAnnotationsTransaction::UpdateItem(CZqHDACallback *, DWORD i, const char *user,
                                                 void *item)
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
