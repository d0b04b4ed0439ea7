#include "ua/ua_nodes.h"

#include <string>
#include <vector>

#include "addrspace/item_registry.h"
#include "history/item_check.h"
#include "history/read_engine.h"
#include "history/result_records.h"
#include "history/sync_requests.h"
#include "history/update_engine.h"
#include "runtime/server_state.h"
#include "ua/ua_convert.h"
#include "ua/ua_read_common.h"
#include "ua/ua_session.h"

namespace zq {

namespace {

// One record of the tree, copied out under the tree's lock.
struct NodePlan
{
    std::string path;   // the NodeId's text: the item ID, or the branch's path
    std::string browse; // the browse name (last element)
    size_t parent;      // index of the parent plan, or kTop
    bool item;          // a defined item (variable) or a branch (folder)
    void *handle;
};
constexpr size_t kTop = static_cast<size_t>(-1);

void CopyTree(std::vector<NodePlan> &plans)
{
    TreeReader reader;
    const char q = reader.Qualifier();
    struct Pending
    {
        const ItemRecord *record;
        size_t parent;
    };
    std::vector<Pending> stack;
    for (const ItemRecord *c = reader.Root().FirstChild(); c != nullptr; c = c->NextSibling())
        stack.push_back({c, kTop});
    // Depth first; children are pushed in reverse so that siblings keep
    // their order.
    while (!stack.empty()) {
        Pending p = stack.back();
        stack.pop_back();
        NodePlan plan;
        plan.browse = std::string(reader.BrowseName(*p.record));
        if (p.record->IsDefinedItem())
            plan.path = std::string(p.record->Name());
        else if (p.parent == kTop)
            plan.path = plan.browse;
        else
            plan.path = plans[p.parent].path + q + plan.browse;
        plan.parent = p.parent;
        plan.item = p.record->IsDefinedItem();
        plan.handle = p.record->Handle();
        plans.push_back(std::move(plan));
        const size_t self = plans.size() - 1;
        std::vector<const ItemRecord *> children;
        for (const ItemRecord *c = p.record->FirstChild(); c != nullptr; c = c->NextSibling())
            children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back({*it, self});
    }
}

// A NodeId of namespace 1 whose string is UTF-8 text made from ANSI text;
// the caller clears it.
UA_NodeId ItemNodeId(const std::string &ansi)
{
    const std::string utf8 = Utf8FromAnsi(ansi);
    UA_NodeId id;
    UA_NodeId_init(&id);
    id.namespaceIndex = kItemNamespace;
    id.identifierType = UA_NODEIDTYPE_STRING;
    UA_String text;
    text.length = utf8.size();
    text.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(utf8.data()));
    UA_String_copy(&text, &id.identifier.string);
    return id;
}

// UTF-8 copy of ANSI text, owned on the stack.
struct UaText
{
    explicit UaText(const std::string &ansi)
    {
        const std::string utf8 = Utf8FromAnsi(ansi);
        UA_String text;
        text.length = utf8.size();
        text.data = reinterpret_cast<UA_Byte *>(const_cast<char *>(utf8.data()));
        UA_String_copy(&text, &value);
    }
    ~UaText() { UA_String_clear(&value); }
    UaText(const UaText &) = delete;
    UaText &operator=(const UaText &) = delete;
    UA_String value = UA_STRING_NULL;
};

// The current value of one attribute; false when the host has none.
bool CurrentAttribute(CZqHDACallback *host, void *item, DWORD attribute, VARIANT *value)
{
    VariantInit(value);
    if (host == nullptr)
        return false;
    FILETIME stamp{};
    return host->ReadCurrentAttribute(item, attribute, &stamp, value) == 0;
}

std::string AttributeText(CZqHDACallback *host, void *item, DWORD attribute)
{
    VARIANT v;
    std::string text;
    if (CurrentAttribute(host, item, attribute, &v) &&
        SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR)) && v.bstrVal != nullptr)
        AnsiFromWide(v.bstrVal, text);
    VariantClear(&v);
    return text;
}

VARTYPE DataTypeOf(CZqHDACallback *host, void *item)
{
    VARIANT v;
    VARTYPE type = VT_EMPTY;
    if (CurrentAttribute(host, item, OPCHDA_DATA_TYPE, &v) &&
        SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4)))
        type = static_cast<VARTYPE>(v.lVal);
    VariantClear(&v);
    return type;
}

// The Value of an item's variable: its latest raw value, read backwards from
// now, under the session user's read right.
UA_StatusCode ReadLatestValue(UA_Server *, const UA_NodeId *, void *sessionContext,
                              const UA_NodeId *nodeId, void *, UA_Boolean sourceTimeStamp,
                              const UA_NumericRange *range, UA_DataValue *out)
{
    if (range != nullptr)
        return UA_STATUSCODE_BADINDEXRANGEINVALID;
    try {
        UaRequestItems items(sessionContext);
        items.Add(*nodeId);
        RawReadTimes times;
        GetSystemTimeAsFileTime(&times.start);
        times.hasStart = true;
        times.end = FILETIME{1, 0};
        times.hasEnd = true;
        OPCHDA_ITEM *records = nullptr;
        HRESULT *codes = nullptr;
        ItemRecords owned;
        HRESULT code = S_OK;
        const UA_StatusCode status =
            AdoptOneNode(ReadRawRequest(items.Handles(), times, 1, FALSE, 1, items.Servers(),
                                        &records, &codes, UaQualityWords()),
                         &records, &codes, owned, &code);
        if (status != UA_STATUSCODE_GOOD)
            return status;
        const OPCHDA_ITEM &r = owned[0];
        if (r.dwCount == 0) {
            out->hasStatus = true;
            out->status = UA_STATUSCODE_BADNODATA;
            return UA_STATUSCODE_GOOD;
        }
        UA_StatusCode converted = UaValueOf(r.pvDataValues[0], &out->value);
        out->hasValue = converted == UA_STATUSCODE_GOOD;
        out->hasStatus = true;
        out->status = converted == UA_STATUSCODE_GOOD ? UaStatusOfQuality(r.pdwQualities[0])
                                                      : converted;
        if (sourceTimeStamp) {
            out->hasSourceTimestamp = true;
            out->sourceTimestamp = UaTime(r.pftTimeStamps[0]);
        }
        return UA_STATUSCODE_GOOD;
    } catch (...) {
        return UA_STATUSCODE_BADOUTOFMEMORY;
    }
}

UA_StatusCode RefuseWrite(UA_Server *, const UA_NodeId *, void *, const UA_NodeId *, void *,
                          const UA_NumericRange *, const UA_DataValue *)
{
    return UA_STATUSCODE_BADNOTWRITABLE;
}

UA_StatusCode AddEngineeringUnits(UA_Server *server, const UA_NodeId &variable,
                                  const std::string &units)
{
    UaText text(units);
    UA_EUInformation eu;
    UA_EUInformation_init(&eu);
    eu.unitId = -1;
    eu.displayName.text = text.value;
    UA_VariableAttributes attr = UA_VariableAttributes_default;
    attr.displayName = UA_LOCALIZEDTEXT(const_cast<char *>(""),
                                        const_cast<char *>("EngineeringUnits"));
    attr.dataType = UA_TYPES[UA_TYPES_EUINFORMATION].typeId;
    attr.valueRank = UA_VALUERANK_SCALAR;
    attr.accessLevel = UA_ACCESSLEVELMASK_READ;
    UA_Variant_setScalar(&attr.value, &eu, &UA_TYPES[UA_TYPES_EUINFORMATION]);
    return UA_Server_addVariableNode(
        server, UA_NODEID_NULL, variable, UA_NODEID_NUMERIC(0, UA_NS0ID_HASPROPERTY),
        UA_QUALIFIEDNAME(0, const_cast<char *>("EngineeringUnits")),
        UA_NODEID_NUMERIC(0, UA_NS0ID_PROPERTYTYPE), attr, nullptr, nullptr);
}

} // namespace

bool HostWritesHistory()
{
    OPCHDA_UPDATECAPABILITIES caps = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    return SUCCEEDED(RunQueryCapabilities(Host(), &caps)) && caps != 0;
}

UA_StatusCode AddItemNodes(UA_Server *server)
{
    std::vector<NodePlan> plans;
    try {
        CopyTree(plans);
    } catch (...) {
        return UA_STATUSCODE_BADOUTOFMEMORY;
    }
    CZqHDACallback *const host = Host();
    const UA_Byte access = static_cast<UA_Byte>(
        UA_ACCESSLEVELMASK_READ | UA_ACCESSLEVELMASK_HISTORYREAD |
        (HostWritesHistory() ? UA_ACCESSLEVELMASK_HISTORYWRITE : 0));
    std::vector<UA_NodeId> ids;
    ids.reserve(plans.size());
    UA_StatusCode status = UA_STATUSCODE_GOOD;
    for (size_t i = 0; i < plans.size() && status == UA_STATUSCODE_GOOD; ++i) {
        const NodePlan &plan = plans[i];
        ids.push_back(ItemNodeId(plan.path));
        const UA_NodeId parent = plan.parent == kTop
                                     ? UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER)
                                     : ids[plan.parent];
        const bool parentIsItem = plan.parent != kTop && plans[plan.parent].item;
        const UA_NodeId reference = UA_NODEID_NUMERIC(
            0, parentIsItem ? UA_NS0ID_HASCOMPONENT : UA_NS0ID_ORGANIZES);
        UaText browse(plan.browse);
        UA_QualifiedName browseName;
        browseName.namespaceIndex = kItemNamespace;
        browseName.name = browse.value;
        UA_LocalizedText display;
        display.locale = UA_STRING_NULL;
        display.text = browse.value;
        if (!plan.item) {
            UA_ObjectAttributes attr = UA_ObjectAttributes_default;
            attr.displayName = display;
            status = UA_Server_addObjectNode(server, ids[i], parent, reference, browseName,
                                             UA_NODEID_NUMERIC(0, UA_NS0ID_FOLDERTYPE), attr,
                                             nullptr, nullptr);
            continue;
        }
        UaText description(AttributeText(host, plan.handle, OPCHDA_DESCRIPTION));
        UA_VariableAttributes attr = UA_VariableAttributes_default;
        attr.displayName = display;
        attr.description.text = description.value;
        attr.dataType = UaTypeIdOfVarType(DataTypeOf(host, plan.handle));
        attr.valueRank = UA_VALUERANK_SCALAR;
        attr.historizing = true;
        attr.accessLevel = access;
        attr.userAccessLevel = access;
        UA_DataSource source;
        source.read = ReadLatestValue;
        source.write = RefuseWrite;
        status = UA_Server_addDataSourceVariableNode(
            server, ids[i], parent, reference, browseName,
            UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), attr, source, nullptr, nullptr);
        const std::string units = AttributeText(host, plan.handle, OPCHDA_ENG_UNITS);
        if (status == UA_STATUSCODE_GOOD && !units.empty())
            status = AddEngineeringUnits(server, ids[i], units);
    }
    for (UA_NodeId &id : ids)
        UA_NodeId_clear(&id);
    return status;
}

} // namespace zq
