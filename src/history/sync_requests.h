// The history-level request API of a client's synchronous requests: what a
// front end calls once it has checked a request's arguments (in the order
// that decides its error codes) and resolved its times. Each runs on the
// calling thread, reads the host's callback object (and for reads the
// quality words) once, checks every item against the client's handle list
// in request order and runs the engine for the items that pass. Results
// come from the task allocator and go to the caller, who frees them; on a
// failure result (E_OUTOFMEMORY) the out pointers are left as they were.
// The asynchronous requests are ClientRequests (history/client_requests.h)
// with the transactions of read_transactions.h and update_transactions.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "history/aggregate_math.h"
#include "history/item_check.h"
#include "history/read_engine.h"
#include "opchda.h"
#include "runtime/handle_list.h"

namespace zq {

// words: the quality words of the read's missing bounds and values, by
// default the host's style (SetHDAQualityStyle) taken once when the read
// starts; a front end that maps them itself passes the ones it maps.
HRESULT ReadRawRequest(const HandleList &handles, const RawReadTimes &times, DWORD numValues,
                       BOOL bounds, DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                       HRESULT **errors, QualityWords words = CurrentQualityWords());
// config: the configuration of the library's aggregates for this read
// (null: the host's, SetHDAAggregateConfiguration).
HRESULT ReadProcessedRequest(const HandleList &handles, const FILETIME &start,
                             const FILETIME &end, uint64_t interval, DWORD count,
                             const OPCHANDLE *servers, const DWORD *aggregates,
                             OPCHDA_ITEM **records, HRESULT **errors,
                             QualityWords words = CurrentQualityWords(),
                             const AggregateConfig *config = nullptr);
HRESULT ReadAtTimeRequest(const HandleList &handles, DWORD numTimes, const FILETIME *times,
                          DWORD count, const OPCHANDLE *servers, OPCHDA_ITEM **records,
                          HRESULT **errors, QualityWords words = CurrentQualityWords());
HRESULT ReadModifiedRequest(const HandleList &handles, const RawReadTimes &times,
                            DWORD numValues, DWORD count, const OPCHANDLE *servers,
                            OPCHDA_MODIFIEDITEM **records, HRESULT **errors);
// The attributes of the one item that CheckAttributeRead accepted.
HRESULT ReadAttributeRequest(const AttributeReadTimes &checked, DWORD count,
                             const DWORD *attributeIds, OPCHDA_ATTRIBUTE **records,
                             HRESULT **errors);
HRESULT ReadAnnotationsRequest(const HandleList &handles, const FILETIME &start,
                               const FILETIME &end, DWORD count, const OPCHANDLE *servers,
                               OPCHDA_ANNOTATION **records, HRESULT **errors);

// The value updates: the host's Insert, Replace or InsertReplace per item.
enum class ValueEdit
{
    Insert,
    Replace,
    InsertReplace,
};
HRESULT UpdateValuesRequest(const HandleList &handles, ValueEdit edit, DWORD count,
                            const OPCHANDLE *servers, const FILETIME *times, VARIANT *values,
                            const DWORD *qualities, HRESULT **errors);
// The client's time records go to the host as they came (unresolved).
HRESULT DeleteRawRequest(const HandleList &handles, OPCHDA_TIME *start, OPCHDA_TIME *end,
                         DWORD count, const OPCHANDLE *servers, HRESULT **errors);
HRESULT DeleteAtTimeRequest(const HandleList &handles, DWORD count, const OPCHANDLE *servers,
                            const FILETIME *times, HRESULT **errors);
// annotationTime: when the client asked (AnnotationTimeNow).
HRESULT InsertAnnotationsRequest(const HandleList &handles, DWORD count,
                                 const OPCHANDLE *servers, const FILETIME *times,
                                 const OPCHDA_ANNOTATION *annotations,
                                 const FILETIME &annotationTime, HRESULT **errors);

} // namespace zq
