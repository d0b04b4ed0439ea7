// The limits every read works to: the host's own (SetHDAReadLimits) and the
// bound on one reply, which holds whether or not the host set any.
//
// Why a reply has a bound: a reply is built in the server's memory, then
// marshalled into one message, which crosses to the client and is unpacked
// there into the client's memory, so that at its peak each side holds it
// twice. One value takes 28 bytes in a 32-bit process (time stamp, quality,
// VARIANT) and 40 in a 64-bit one, and about 44 bytes in the message for a
// number (more for a text). A 32-bit process has 2 GB of address space in
// which blocks of a few hundred MB are not always to be had, and the
// 32-bit server serves many clients at once. At 1,000,000 values a reply
// is about 44 MB in the message and under 100 MB at its peak on either side;
// ten times that (the largest reply seen to get through, on x86_64) took
// 37 s and gigabytes, and a hundred times that never arrived.
#pragma once

#include <windows.h>

#include <cstdint>

#include "opchda.h"
#include "opchda_constants.h"

namespace zq {

// Most values one reply carries, in all its items together, and so also
// most values of one item.
constexpr DWORD kReplyValueLimit = 1000000;

// The limits a read works to, taken once when it starts.
struct ReadLimits
{
    // The host's values limit (0: none): a raw or modified read asking for
    // more values per item (numValues) is refused with OPC_E_MAXEXCEEDED.
    DWORD hostValues = 0;
    // Most values one item returns: the host's limit, at most the reply's
    // bound. A read of more gets OPC_E_MAXEXCEEDED (processed intervals,
    // at-time time stamps) or is cut with OPC_S_MOREDATA (raw, modified and
    // annotation reads, by what the host has).
    DWORD values = kReplyValueLimit;
    // Most resample intervals of one item: the host's interval and values
    // limits, at most the reply's bound.
    DWORD intervals = kReplyValueLimit;
};

ReadLimits CurrentReadLimits();

// n within a limit (0: none).
inline bool Exceeds(uint64_t n, DWORD limit) { return limit != 0 && n > limit; }

// The values a result record holds.
inline uint64_t ValuesIn(const OPCHDA_ITEM &r) { return r.dwCount; }
inline uint64_t ValuesIn(const OPCHDA_MODIFIEDITEM &r) { return r.dwCount; }
inline uint64_t ValuesIn(const OPCHDA_ATTRIBUTE &r) { return r.dwNumValues; }
inline uint64_t ValuesIn(const OPCHDA_ANNOTATION &r) { return r.dwNumValues; }

// What one reply still has room for, while its items are read one after
// the other. An item whose values no longer fit is emptied and reported
// with OPC_E_MAXEXCEEDED; the items before it keep theirs. Lives on the
// thread that reads the items, for one reply.
class ReplyBudget
{
public:
    // The item's code after its record was filled (code: the engine's).
    template <typename Record>
    HRESULT Admit(Record &record, HRESULT code, void (*freeArrays)(Record &))
    {
        const uint64_t n = ValuesIn(record);
        if (n <= left_) {
            left_ -= n;
            return code;
        }
        freeArrays(record);
        return OPC_E_MAXEXCEEDED;
    }

private:
    uint64_t left_ = kReplyValueLimit;
};

} // namespace zq
