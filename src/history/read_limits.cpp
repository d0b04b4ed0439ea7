#include "history/read_limits.h"

#include "runtime/server_state.h"

namespace zq {

namespace {

DWORD AtMost(DWORD limit, DWORD bound) { return limit != 0 && limit < bound ? limit : bound; }

} // namespace

// Two atomic loads: the host may change its limits at any time, and a read
// works to what they were when it started.
ReadLimits CurrentReadLimits()
{
    ReadLimits limits;
    limits.hostValues = State().settings.maxValuesPerItem.load();
    limits.values = AtMost(limits.hostValues, kReplyValueLimit);
    limits.intervals = AtMost(State().settings.maxIntervalsPerItem.load(), limits.values);
    return limits;
}

} // namespace zq
