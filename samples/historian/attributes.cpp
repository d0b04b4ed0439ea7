#include "attributes.h"

#include "opchda.h"

namespace historian {

const std::vector<AttributeInfo> &SupportedAttributes()
{
    static const std::vector<AttributeInfo> list = {
        {OPCHDA_DATA_TYPE, "Data Type", "VARTYPE of the item's values", VT_I2, false},
        {OPCHDA_DESCRIPTION, "Description", "What the item measures", VT_BSTR, false},
        {OPCHDA_ENG_UNITS, "Eng Units", "Engineering units", VT_BSTR, false},
        {OPCHDA_STEPPED, "Stepped", "Values hold until the next one", VT_BOOL, false},
        {OPCHDA_NORMAL_MAXIMUM, "Normal Maximum", "Upper end of the normal range", VT_R8, false},
        {OPCHDA_NORMAL_MINIMUM, "Normal Minimum", "Lower end of the normal range", VT_R8, false},
        {OPCHDA_ITEMID, "ItemID", "The item's ID", VT_BSTR, false},
        {OPCHDA_HIGH_ENTRY_LIMIT, "High Entry Limit", "Alarm limit in force, high", VT_R8, true},
        {OPCHDA_LOW_ENTRY_LIMIT, "Low Entry Limit", "Alarm limit in force, low", VT_R8, true},
    };
    return list;
}

void ApplyItemInfo(Series &series, const ItemInfo &info, Ticks time)
{
    series.SetStepped(info.stepped);
    series.SetDataType(info.type);
    Value type;
    type.Raw().vt = VT_I2;
    type.Raw().iVal = static_cast<SHORT>(info.type);
    series.SetAttribute(OPCHDA_DATA_TYPE, time, type);
    series.SetAttribute(OPCHDA_DESCRIPTION, time, Value::Text(info.description));
    series.SetAttribute(OPCHDA_ENG_UNITS, time, Value::Text(info.units));
    series.SetAttribute(OPCHDA_STEPPED, time, Value::Bool(info.stepped));
    std::wstring id;
    int n = MultiByteToWideChar(CP_ACP, 0, series.Id().c_str(), -1, nullptr, 0);
    if (n > 0) {
        id.assign(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, series.Id().c_str(), -1, &id[0], n);
        id.resize(static_cast<size_t>(n - 1));
    }
    series.SetAttribute(OPCHDA_ITEMID, time, Value::Text(id));
    if (info.hasNormalRange) {
        series.SetAttribute(OPCHDA_NORMAL_MAXIMUM, time, Value(info.normalMaximum));
        series.SetAttribute(OPCHDA_NORMAL_MINIMUM, time, Value(info.normalMinimum));
    }
}

} // namespace historian
