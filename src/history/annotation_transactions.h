// The annotation transactions: a read (OnReadAnnotations, one record and one
// code per item) and an insert (OnInsertAnnotations, one completion client
// handle and one code per item). Times are resolved and the client's
// annotations copied at request time.
#pragma once

#include <string>
#include <vector>

#include "history/annotation_engine.h"
#include "history/record_read_transaction.h"
#include "history/transaction.h"
#include "history/update_transactions.h"

namespace zq {

class ReadAnnotationsTransaction final
    : public RecordReadTransaction<OPCHDA_ANNOTATION, FreeAnnotationArrays>
{
public:
    ReadAnnotationsTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                               const FILETIME &start, const FILETIME &end);

private:
    HRESULT ReadItem(void *item, OPCHDA_ANNOTATION &record) override;
    void Hand(Delivery &out, Records results) override;

    FILETIME start_;
    FILETIME end_;
};

// Write check and user name as for the value updates.
class InsertAnnotationsTransaction final : public UpdateTransaction
{
public:
    // annotationTime: when the client asked.
    InsertAnnotationsTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                                 const FILETIME *times, const FILETIME &annotationTime);

    // Copies the client's annotation texts, one record per item: S_OK, or
    // E_INVALIDARG for a record whose text array is missing.
    HRESULT CopyAnnotations(const OPCHDA_ANNOTATION *values);

private:
    HRESULT UpdateItem(CZqHDACallback *host, DWORD i, const char *user, void *item) override;
    Delivery::Callback Completion() const override
    {
        return Delivery::Callback::InsertAnnotations;
    }

    std::vector<FILETIME> times_;
    FILETIME annotationTime_;
    std::vector<std::vector<std::wstring>> texts_;
};

} // namespace zq
