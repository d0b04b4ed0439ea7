// The host's raw history as the aggregate calculator reads it: GetTimeStamps
// for an interval's samples, GetPreviousTimeStamp / GetNextTimeStamp for its
// neighbours, ReadAt for each value, and the annotation read callback for
// annotation counts. One object per item and request, on the calling thread;
// the context value the host sets in GetTimeStamps is handed to every later
// call of the request.
#pragma once

#include <windows.h>

#include <vector>

#include "history/raw_source.h"
#include "ZqHDAsvr.h"

namespace zq {

class HostRawSource final : public RawSource
{
public:
    HostRawSource(CZqHDACallback *host, void *item) : host_(host), item_(item) {}

    bool Before(int64_t t, RawSample &out) override;
    bool After(int64_t t, RawSample &out) override;
    void Window(int64_t start, int64_t end, std::vector<RawSample> &out) override;
    long Annotations(int64_t start, int64_t end) override;

private:
    // The sample stamped t; a value the host fails to deliver is a bad one.
    RawSample Read(int64_t t);

    CZqHDACallback *const host_;
    void *const item_;
    ULONG_PTR context_ = 0;
    std::vector<FILETIME> stamps_; // reused from interval to interval
};

} // namespace zq
