#include "history/modified_engine.h"

#include <atomic>
#include <climits>
#include <new>
#include <string>
#include <vector>

#include "history/read_limits.h"
#include "opchda_constants.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"
#include "ZqHDAsvr.h"

namespace zq {

namespace {

// One value as the host reported it; owns its VARIANT.
struct ModifiedEntry
{
    FILETIME time{};
    VARIANT value;
    DWORD quality = 0;
    FILETIME modificationTime{};
    int editType = 0;
    std::string user;

    ModifiedEntry() { VariantInit(&value); }
    ModifiedEntry(const ModifiedEntry &) = delete;
    ModifiedEntry &operator=(const ModifiedEntry &) = delete;
    ModifiedEntry(ModifiedEntry &&o) noexcept
        : time(o.time), value(o.value), quality(o.quality), modificationTime(o.modificationTime),
          editType(o.editType), user(std::move(o.user))
    {
        VariantInit(&o.value);
    }
    ~ModifiedEntry() { VariantClear(&value); }
};

// What the host hands to the add function during one callback. Only the
// thread running that callback touches it.
struct Collected
{
    std::vector<ModifiedEntry> entries;
    size_t cap = 0;          // most entries kept; 0: none
    bool more = false;       // the host offered more than the cap
    bool failed = false;     // an entry could not be kept (memory, value copy)
    bool badEditType = false;
};

void __stdcall AddModifiedValue(void *list, FILETIME time, VARIANT *value, unsigned long quality,
                                FILETIME modificationTime, int editType, const char *user)
{
    Collected *c = static_cast<Collected *>(list);
    if (c == nullptr || c->failed || c->badEditType)
        return;
    if (editType < OPCHDA_INSERT || editType > OPCHDA_DELETE) {
        c->badEditType = true;
        return;
    }
    if (c->cap != 0 && c->entries.size() >= c->cap) {
        c->more = true;
        return;
    }
    try {
        ModifiedEntry e;
        e.time = time;
        e.quality = quality;
        e.modificationTime = modificationTime;
        e.editType = editType;
        e.user = user != nullptr ? user : "";
        if (value != nullptr && FAILED(VariantCopyInd(&e.value, value))) {
            c->failed = true;
            return;
        }
        c->entries.push_back(std::move(e));
    } catch (const std::bad_alloc &) {
        c->failed = true;
    }
}

} // namespace

bool ModifiedValuesOffered() { return State().settings.plain.readModified.load() != nullptr; }

HRESULT RunReadModified(void *item, OPCHDA_MODIFIEDITEM &result, const FILETIME *start,
                        const FILETIME *end, DWORD numValues)
{
    ZQHDA_ReadModifiedProc fn = State().settings.plain.readModified.load();
    if (fn == nullptr)
        return E_NOTIMPL;
    const ReadLimits limits = CurrentReadLimits();
    if (Exceeds(numValues, limits.hostValues))
        return OPC_E_MAXEXCEEDED;
    Collected collected;
    collected.cap = numValues != 0 && numValues < limits.values ? numValues : limits.values;
    // The host gets copies: whatever it does with them, the caller's times stay.
    FILETIME startCopy = start != nullptr ? *start : FILETIME{};
    FILETIME endCopy = end != nullptr ? *end : FILETIME{};
    long hostResult = E_FAIL; // a callback that stores no result has failed
    fn(item, start != nullptr ? &startCopy : nullptr, end != nullptr ? &endCopy : nullptr,
       static_cast<int>(collected.cap > INT_MAX ? INT_MAX : collected.cap), &collected,
       AddModifiedValue, &hostResult);
    if (FAILED(hostResult))
        return hostResult;
    if (hostResult != S_OK)
        return OPC_S_NODATA;
    if (collected.badEditType)
        return E_FAIL;
    if (collected.failed)
        return E_OUTOFMEMORY;
    const size_t n = collected.entries.size();
    if (n == 0)
        return OPC_S_NODATA;

    TaskPtr<FILETIME> times(ZeroedTaskArray<FILETIME>(n));
    TaskPtr<DWORD> qualities(ZeroedTaskArray<DWORD>(n));
    TaskPtr<VARIANT> values(ZeroedTaskArray<VARIANT>(n)); // zeroed: VT_EMPTY
    TaskPtr<FILETIME> modified(ZeroedTaskArray<FILETIME>(n));
    TaskPtr<OPCHDA_EDITTYPE> edits(ZeroedTaskArray<OPCHDA_EDITTYPE>(n));
    TaskPtr<LPWSTR> users(ZeroedTaskArray<LPWSTR>(n));
    if (!times || !qualities || !values || !modified || !edits || !users)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < n; ++i) {
        users[i] = WideCopy(collected.entries[i].user.c_str(), true);
        if (users[i] == nullptr) {
            for (size_t j = 0; j < i; ++j)
                TaskFree(users[j]);
            return E_OUTOFMEMORY;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        ModifiedEntry &e = collected.entries[i];
        times[i] = e.time;
        qualities[i] = e.quality;
        values[i] = e.value; // the value moves over; the entry keeps none
        VariantInit(&e.value);
        modified[i] = e.modificationTime;
        edits[i] = static_cast<OPCHDA_EDITTYPE>(e.editType);
    }
    result.dwCount = static_cast<DWORD>(n);
    result.pftTimeStamps = times.release();
    result.pdwQualities = qualities.release();
    result.pvDataValues = values.release();
    result.pftModificationTime = modified.release();
    result.pEditType = edits.release();
    result.szUser = users.release();
    return collected.more ? OPC_S_MOREDATA : S_OK;
}

void FreeModifiedArrays(OPCHDA_MODIFIEDITEM &item)
{
    for (DWORD i = 0; i < item.dwCount; ++i) {
        if (item.pvDataValues != nullptr)
            VariantClear(&item.pvDataValues[i]);
        if (item.szUser != nullptr)
            TaskFree(item.szUser[i]);
    }
    TaskFreeAll(item.pftTimeStamps, item.pdwQualities, item.pvDataValues,
                item.pftModificationTime, item.pEditType, item.szUser);
    item.dwCount = 0;
}

} // namespace zq
