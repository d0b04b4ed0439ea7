// The item attributes the historian offers, and how an item gets them.
#pragma once

#include <string>
#include <vector>

#include "series.h"

namespace historian {

struct AttributeInfo
{
    DWORD id;
    const char *name;
    const char *description;
    VARTYPE type;
    bool history; // values change over time (read with ReadAttributeAt)
};

// Published IDs and names: Data Type, Description, Eng Units, Stepped,
// Normal Maximum, Normal Minimum, ItemID (current values only), and High and
// Low Entry Limit, which have a history on the generated items.
const std::vector<AttributeInfo> &SupportedAttributes();

struct ItemInfo
{
    std::wstring description;
    std::wstring units;
    bool stepped = false;
    VARTYPE type = VT_R8;
    bool hasNormalRange = false;
    double normalMaximum = 0;
    double normalMinimum = 0;
};

// Sets the item's stepped flag and data type, and its constant attributes,
// valid from time on.
void ApplyItemInfo(Series &series, const ItemInfo &info, Ticks time);

} // namespace historian
