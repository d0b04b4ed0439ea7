// TestHost: a scriptable host callback object over an in-memory history,
// for tests of the read and update engines, the synchronous interfaces and
// the asynchronous transactions.
//
// History, per item handle: values (time stamp, VARIANT, quality), kept
// sorted; attributes with a current value and historical values. The host
// answers like a plain historian:
// - GetTimeStamps: the stamps from start to end, both included; ascending
//   when start <= end or only start is given, descending when start > end or
//   start is absent (end only, or neither: everything up to end).
// - GetPreviousTimeStamp / GetNextTimeStamp: the nearest stamp strictly
//   before / after the time; OPC_S_NODATA if there is none.
// - ReadAt: the value stored at exactly that stamp; OPC_S_NODATA otherwise.
// - ReadCurrentAttribute: the current value set for it; E_FAIL otherwise.
//   ReadAttributeAt: the latest historical value at or before the time;
//   E_FAIL otherwise.
// - ReadProcessed: aggregate kCountAggregate gives the number of values in
//   [interval start, interval end) as VT_I4 (0 included); any other the
//   average as VT_R8, OPC_S_NODATA when the interval holds no value. The
//   quality is kAggregateQuality. A scripted function replaces this.
// - Insert: OPC_E_DATAEXISTS if a value is stored at the time, else stores
//   it and answers S_OK; Replace: OPC_E_NODATAEXISTS or S_OK;
//   InsertReplace: OPC_S_INSERTED or OPC_S_REPLACED; DeleteAtTime:
//   OPC_E_NODATAEXISTS or S_OK; DeleteRaw: removes the values between two
//   absolute times and answers S_OK, leaves texts alone and answers S_OK.
//
// Every call is recorded with its arguments. Knobs change the answers:
// forced results per method (and per item or per time), garbage counts,
// a context value to hand out, moved interval bounds, a hook that runs at
// the start of every call (to block a worker, count threads, ...).
//
// Thread-safe: calls may arrive on several threads at once; the hook runs
// outside the host's lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ZqHDAsvr.h"
#include "hda_values.h"

namespace zqtest {

enum class Method
{
    GetTimeStamps,
    GetPreviousTimeStamp,
    GetNextTimeStamp,
    ReadAt,
    ReadCurrentAttribute,
    ReadAttributeAt,
    PrepareAggregates,
    ReadProcessed,
    QueryUpdateCapabilities,
    Insert,
    Replace,
    InsertReplace,
    DeleteRaw,
    DeleteAtTime,
};
const char *MethodName(Method m);

constexpr DWORD kCountAggregate = 5; // OPCHDA_COUNT
constexpr DWORD kGoodQuality = 0xC0;
constexpr DWORD kAggregateQuality = 0x000800C0; // calculated, good

// An OPCHDA_TIME as the host received it.
struct TimeRecord
{
    bool given = false; // the pointer was not null
    BOOL bString = FALSE;
    bool textNull = true;
    std::wstring text;
    uint64_t ftTime = 0;
};

// One recorded call. Fields that do not belong to the method stay default.
struct Call
{
    Method method{};
    void *item = nullptr;
    DWORD thread = 0;
    // GetTimeStamps: its start and end pointers (has*: not null).
    // PrepareAggregates: the range; ReadProcessed: the interval as received.
    bool hasStart = false;
    bool hasEnd = false;
    uint64_t start = 0;
    uint64_t end = 0;
    // The time argument (previous/next, ReadAt, ReadAttributeAt, updates,
    // DeleteAtTime).
    uint64_t time = 0;
    // GetTimeStamps: the capacity and whether an array was given.
    int maxCount = 0;
    bool arrayGiven = false;
    // The context value received; for GetTimeStamps and PrepareAggregates
    // the value the variable held on entry.
    ULONG_PTR context = 0;
    // Attribute or aggregate ID.
    DWORD id = 0;
    // ReadAt, ReadCurrentAttribute, ReadAttributeAt, ReadProcessed: the
    // value was VT_EMPTY when the host got it.
    bool valueEmptyOnEntry = false;
    uint64_t interval = 0;
    // Updates: user name, value and quality as received.
    std::string user;
    Variant value;
    DWORD quality = 0;
    // DeleteRaw: the two records.
    TimeRecord startRecord;
    TimeRecord endRecord;
    // What the host answered (a count for GetTimeStamps).
    long result = 0;
};

struct Sample
{
    uint64_t time = 0;
    Variant value;
    DWORD quality = 0;
};

class TestHost : public CZqHDACallback
{
public:
    TestHost() = default;
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    // --- History ---------------------------------------------------------
    void AddValue(void *item, uint64_t time, const Variant &value, DWORD quality = kGoodQuality);
    // count values VT_R8 first, first+1, ... at start, start+step, ...
    void AddSeries(void *item, uint64_t start, uint64_t step, int count, double first = 0);
    std::vector<Sample> Values(void *item) const;
    void SetCurrentAttribute(void *item, DWORD id, uint64_t time, const Variant &value);
    void AddAttributeValue(void *item, DWORD id, uint64_t time, const Variant &value);
    void SetCapabilities(DWORD capabilities);

    // --- Knobs -----------------------------------------------------------
    // Every call of the method answers result (for GetTimeStamps: returns
    // it as the count, writing nothing).
    void ForceResult(Method m, long result);
    // Only calls for that item.
    void ForceResultFor(Method m, void *item, long result);
    // Only calls with that time argument (ReadAt, ReadAttributeAt,
    // previous/next, updates, DeleteAtTime).
    void ForceResultAt(Method m, uint64_t time, long result);
    // Only the nth call (0-based, counted from now) of the method.
    void ForceNthResult(Method m, int nth, long result);
    // GetTimeStamps count query (maxCount 0) answers this count.
    void SetCountAnswer(int count);
    // GetTimeStamps with an array writes what it has (at most the capacity)
    // but answers this count.
    void SetFillAnswer(int count);
    // GetTimeStamps with an array fills the whole capacity with stamps 1 s
    // apart, the first 1 s after the range start, and answers capacity + extra.
    void SetOverfill(int extra);
    // GetTimeStamps and PrepareAggregates store this context value.
    void SetContext(ULONG_PTR context);
    // ReadProcessed moves the interval bounds by these amounts (100 ns)
    // before answering.
    void MoveIntervals(int64_t startShift, int64_t endShift);
    // Replaces the aggregate computation of ReadProcessed.
    using AggregateFn = std::function<long(void *item, DWORD aggregate, FILETIME *start,
                                           FILETIME *end, VARIANT *value, unsigned long *quality)>;
    void SetAggregate(AggregateFn fn);
    // Runs at the start of every call, outside the host's lock.
    void SetHook(std::function<void(Method, void *item)> hook);
    // Forgets every knob (the history and the calls stay).
    void ClearKnobs();
    // Forgets everything: history, knobs and calls.
    void Reset();

    // --- Record ----------------------------------------------------------
    std::vector<Call> Calls() const;
    std::vector<Call> CallsOf(Method m) const;
    int CountOf(Method m) const;
    void ClearCalls();

    // --- CZqHDACallback --------------------------------------------------
    int GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount, FILETIME *times,
                      ULONG_PTR *context) override;
    long GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                              ULONG_PTR context) override;
    long GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                          ULONG_PTR context) override;
    long ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                ULONG_PTR context) override;
    long ReadCurrentAttribute(void *hItem, unsigned long attributeId, FILETIME *stamp,
                              VARIANT *value) override;
    long ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time, VARIANT *value,
                         ULONG_PTR context) override;
    int PrepareAggregates(void *hItem, unsigned long aggregateId, FILETIME start, FILETIME end,
                          FILETIME resampleInterval, ULONG_PTR *context) override;
    long ReadProcessed(void *hItem, unsigned long aggregateId, FILETIME *intervalStart,
                       FILETIME *intervalEnd, VARIANT *value, unsigned long *quality,
                       ULONG_PTR context) override;
    long QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities) override;
    long Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                unsigned long quality) override;
    long Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                 unsigned long quality) override;
    long InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                       unsigned long quality) override;
    long DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end) override;
    long DeleteAtTime(char *user, void *hItem, FILETIME time) override;

private:
    struct Attribute
    {
        std::optional<Sample> current;
        std::vector<Sample> history; // sorted
    };
    struct Forced
    {
        Method method;
        std::optional<void *> item;
        std::optional<uint64_t> time;
        std::optional<int> nth;
        long result;
    };

    // Hook, then (under the lock) the forced result that applies, if any.
    // Counts the call for ForceNthResult.
    std::optional<long> Enter(Method m, void *item, std::optional<uint64_t> time);
    void Record(Call call);
    // Enter, then the forced result or (under the lock) the answer's, which
    // becomes the call's recorded result.
    template <typename Answer>
    long Respond(Call call, std::optional<uint64_t> time, Answer &&answer);
    const std::vector<Sample> *Find(void *item) const; // lock held
    long Neighbour(Method m, void *item, FILETIME time, FILETIME *stamp, ULONG_PTR context);
    long Update(Method m, char *user, void *item, FILETIME time, VARIANT *value,
                unsigned long quality);

    mutable std::mutex mutex_;
    std::map<void *, std::vector<Sample>> values_;
    std::map<std::pair<void *, DWORD>, Attribute> attributes_;
    DWORD capabilities_ = 0;
    std::vector<Forced> forced_;
    std::map<Method, int> seen_;
    std::optional<int> countAnswer_;
    std::optional<int> fillAnswer_;
    std::optional<int> overfill_;
    std::optional<ULONG_PTR> context_;
    int64_t startShift_ = 0;
    int64_t endShift_ = 0;
    AggregateFn aggregate_;
    std::function<void(Method, void *)> hook_;
    std::vector<Call> calls_;
};

// Installs a host object as the callback object for its lifetime, and puts
// back what was installed before.
class HostInstalled
{
public:
    explicit HostInstalled(CZqHDACallback *host);
    ~HostInstalled();
    HostInstalled(const HostInstalled &) = delete;
    HostInstalled &operator=(const HostInstalled &) = delete;

private:
    CZqHDACallback *previous_;
};

} // namespace zqtest
