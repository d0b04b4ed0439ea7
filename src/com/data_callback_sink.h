// DataCallbackSink: the RequestSink of a COM client (history/request_sink.h):
// its HDAServer's IOPCHDA_DataCallback connection point and the sink the
// client advised there, and its worker's part in the tick.
//
// A step holds one reference on the point (and so on the HDAServer) and one
// on the sink from BeginDeliveries to EndDeliveries; only one step of a
// client runs at a time (ClientRequests::Step), so the two held pointers
// need no lock.
#pragma once

#include <windows.h>

#include "history/request_sink.h"
#include "opchda.h"

namespace zq {

class ConnectionPoint;
class HDAServer;

class DataCallbackSink final : public RequestSink
{
public:
    explicit DataCallbackSink(HDAServer &owner) : owner_(owner) {}
    DataCallbackSink(const DataCallbackSink &) = delete;
    DataCallbackSink &operator=(const DataCallbackSink &) = delete;

    bool Advised() override;
    bool BeginDeliveries() override;
    bool StillAdvised() override;
    Answer Deliver(const Delivery &delivery) override;
    void EndDeliveries() override;
    void TakePartInTick(bool on) override;

private:
    HDAServer &owner_;
    ConnectionPoint *point_ = nullptr;     // held by a step
    IOPCHDA_DataCallback *sink_ = nullptr; // held by a step
};

} // namespace zq
