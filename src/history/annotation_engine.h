// The annotation engine: one item's share of an annotation read or insert,
// answered by the host's plain annotation callbacks
// (EnableReadAnnotationsCallback, EnableInsertAnnotationCallback).
//
// Like the read engine it takes no lock and keeps no state: the synchronous
// interface (client threads) and the asynchronous transactions (worker
// threads) call it alike, and the callbacks are read at every call. Arrays
// put into a record come from the task allocator and belong to the caller
// afterwards (handed to a client, or released with FreeAnnotationArrays).
#pragma once

#include <windows.h>

#include "opchda.h"

namespace zq {

// True when the host installed either annotation callback: only then does
// an HDAServer answer for the annotation interfaces.
bool AnnotationsOffered();

// OPCHDA_READANNOTATIONCAP and OPCHDA_INSERTANNOTATIONCAP for the installed
// callbacks.
OPCHDA_ANNOTATIONCAPABILITIES AnnotationCapabilities();

// The annotations of an item between start and end as the host reports
// them, at most the host's values limit (SetHDAReadLimits), then
// OPC_S_MOREDATA. S_OK, OPC_S_NODATA (none, or the host's success code
// other than 0), the host's failure code, E_NOTIMPL without a read
// callback, or E_OUTOFMEMORY. The record's hClient is left alone.
HRESULT RunReadAnnotations(void *item, OPCHDA_ANNOTATION &result, const FILETIME &start,
                           const FILETIME &end);

// How many annotations the host has for the values of an item stamped from
// start (included) to end (excluded); -1 without a read callback, 0 when the
// callback fails.
long CountAnnotations(void *item, const FILETIME &start, const FILETIME &end);
// True while the host's read callback is installed.
bool AnnotationsReadable();

// Inserts the client's annotations of one item at time, each stamped with
// annotationTime and the user name. S_OK when the host took every one;
// otherwise the first failure, after which the rest are not offered:
// E_INVALIDARG for a missing array or a text the ANSI code page cannot hold,
// E_NOTIMPL without an insert callback, or the host's result (any non-zero
// result is a failure; success codes other than 0 become E_FAIL).
HRESULT RunInsertAnnotations(const char *user, void *item, const FILETIME &time,
                             const OPCHDA_ANNOTATION &values, const FILETIME &annotationTime);

// Clears the strings, gives the arrays back to the task allocator and leaves
// the record with 0 values and null arrays (hClient stays).
void FreeAnnotationArrays(OPCHDA_ANNOTATION &annotation);

} // namespace zq
