#include "ua/ua_continuation.h"

#include <cstring>

namespace zq {

namespace {

constexpr size_t kPointSize = 20;
constexpr uint8_t kVersion = 1;

} // namespace

UA_StatusCode ParseContinuation(const UA_ByteString &point, PageKind kind, Resume *out)
{
    if (point.length != kPointSize || point.data == nullptr || point.data[0] != 'Z' ||
        point.data[1] != 'Q' || point.data[2] != static_cast<uint8_t>(kind) ||
        point.data[3] != kVersion)
        return UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
    uint64_t from = 0;
    uint32_t skip = 0, left = 0;
    for (int i = 7; i >= 0; --i)
        from = (from << 8) | point.data[4 + i];
    for (int i = 3; i >= 0; --i) {
        skip = (skip << 8) | point.data[12 + i];
        left = (left << 8) | point.data[16 + i];
    }
    if (from > static_cast<uint64_t>(INT64_MAX))
        return UA_STATUSCODE_BADCONTINUATIONPOINTINVALID;
    out->from = static_cast<int64_t>(from);
    out->skip = skip;
    out->left = left;
    return UA_STATUSCODE_GOOD;
}

UA_StatusCode MakeContinuation(PageKind kind, const Resume &at, UA_ByteString *out)
{
    UA_StatusCode status = UA_ByteString_allocBuffer(out, kPointSize);
    if (status != UA_STATUSCODE_GOOD)
        return status;
    UA_Byte *p = out->data;
    p[0] = 'Z';
    p[1] = 'Q';
    p[2] = static_cast<uint8_t>(kind);
    p[3] = kVersion;
    const uint64_t from = static_cast<uint64_t>(at.from);
    for (int i = 0; i < 8; ++i)
        p[4 + i] = static_cast<UA_Byte>(from >> (8 * i));
    for (int i = 0; i < 4; ++i) {
        p[12 + i] = static_cast<UA_Byte>(at.skip >> (8 * i));
        p[16 + i] = static_cast<UA_Byte>(at.left >> (8 * i));
    }
    return UA_STATUSCODE_GOOD;
}

Resume NextPlace(const Resume *resume, int64_t last, uint32_t sameAtLast)
{
    Resume next;
    next.from = last;
    next.skip = sameAtLast;
    if (resume != nullptr && resume->from == last)
        next.skip += resume->skip;
    return next;
}

} // namespace zq
