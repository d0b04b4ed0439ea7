// Builds the canned history results of the test server (xproc_canned.h) in
// task memory: the item with doubles, the item with texts and the attribute
// results. Used for SyncRead results and for the data callbacks.
#pragma once

#include "xproc_canned.h"

namespace xserver {

// Item 0 of kKnownItems: kRawDoubles as VT_R8 with kRawTimes and qualities.
bool FillDoubleItem(OPCHDA_ITEM &item);
// Item 1 of kKnownItems: kRawTexts as VT_BSTR.
bool FillTextItem(OPCHDA_ITEM &item);
void FreeItem(OPCHDA_ITEM &item);

// ReadModified results of item 0 and item 1 (see kModificationTimes).
bool FillModifiedDoubles(OPCHDA_MODIFIEDITEM &item);
bool FillModifiedText(OPCHDA_MODIFIEDITEM &item);
void FreeModifiedItem(OPCHDA_MODIFIEDITEM &item);

// Attribute results of item 0: the description (one value) and the normal
// maximum (two values).
bool FillDescriptionAttribute(OPCHDA_ATTRIBUTE &attribute);
bool FillMaximumAttribute(OPCHDA_ATTRIBUTE &attribute);
void FreeAttribute(OPCHDA_ATTRIBUTE &attribute);

// Annotations of item `index` of kKnownItems (kAnnotations[index]).
bool FillAnnotation(OPCHDA_ANNOTATION &annotation, DWORD index);
void FreeAnnotation(OPCHDA_ANNOTATION &annotation);
// Whether an annotation that arrived equals kAnnotations[index], null strings
// included.
bool SameAnnotation(const OPCHDA_ANNOTATION &got, DWORD index);

}  // namespace xserver
