// Continuation points of the endpoint's history reads, and the values that
// go into one page of a raw or modified read.
//
// A continuation point is 20 bytes that the client hands back unchanged:
// "ZQ", the kind of read, a version byte, then where the next page starts
// (a time, or for processed reads the start of the next interval), how
// many values at exactly that time the pages before already returned, and
// for a read with only one time (whose value count ends it) how many
// values are still to come. The
// next page reads from that time on again and leaves those out, so values
// that share a time stamp (modified values) are neither lost nor repeated.
// Anything else is BadContinuationPointInvalid.
#pragma once

#include <windows.h>

#include <cstdint>

#include "open62541.h"

namespace zq {

enum class PageKind : uint8_t
{
    Raw = 1,
    Modified = 2,
    Processed = 3,
};

struct Resume
{
    int64_t from = 0;  // 100-ns ticks since 1601
    uint32_t skip = 0; // values at exactly `from` already returned
    uint32_t left = 0; // a read with one time: values still to return
};

// Good with the place, or BadContinuationPointInvalid.
UA_StatusCode ParseContinuation(const UA_ByteString &point, PageKind kind, Resume *out);
// The continuation point of a place (the caller clears it).
UA_StatusCode MakeContinuation(PageKind kind, const Resume &at, UA_ByteString *out);

// Which of a page's values the client gets: reading from `resume` in the
// read's direction, those before resume.from and the first resume.skip at
// exactly resume.from are left out (they were on earlier pages).
class PageFilter
{
public:
    PageFilter(const Resume *resume, bool backwards) : resume_(resume), backwards_(backwards) {}
    bool Keep(int64_t t)
    {
        if (resume_ == nullptr)
            return true;
        if (backwards_ ? t > resume_->from : t < resume_->from)
            return false;
        if (t == resume_->from && skipped_ < resume_->skip) {
            ++skipped_;
            return false;
        }
        return true;
    }

private:
    const Resume *resume_;
    bool backwards_;
    uint32_t skipped_ = 0;
};

// The place after a page whose last kept value is at `last`: `sameAtLast`
// kept values there, plus what an earlier page skipped at the same time.
Resume NextPlace(const Resume *resume, int64_t last, uint32_t sameAtLast);

} // namespace zq
