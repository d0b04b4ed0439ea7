// RequestSink: how a client's requests (history/client_requests.h) reach
// the client that made them. The front end implements it: for a COM client
// the data callback connection point of its HDAServer
// (com/data_callback_sink.h). Everything a tick step tells the client goes
// through it; the history layer knows nothing of connection points.
//
// Calls are made by one tick step of the client at a time (the requests'
// stepping flag), with no client lock held, except Advised (the request's
// thread) and TakePartInTick (under the client lock).
#pragma once

#include <windows.h>

namespace zq {

class Delivery;

class RequestSink
{
public:
    // What a delivery's answer means for the rest of the step.
    enum class Answer
    {
        Delivered,       // go on
        Gone,            // the client is gone: the step ends
        GoneAndDropped,  // likewise, and the client's requests are dropped
    };

    // Whether the client can be delivered to at all: checked when a request
    // arrives (a COM client: its data callback connection point exists).
    virtual bool Advised() = 0;

    // Takes hold of the client's sink for one step's deliveries (the hold
    // also keeps the client alive); false when none is advised, and then
    // nothing is delivered. EndDeliveries lets go, once per BeginDeliveries,
    // after the last delivery.
    virtual bool BeginDeliveries() = 0;
    // Whether the sink held is still the one the client advised.
    virtual bool StillAdvised() = 0;
    // Makes the delivery's callback on the sink held.
    virtual Answer Deliver(const Delivery &delivery) = 0;
    virtual void EndDeliveries() = 0;

    // The client takes part in the tick (has requests) or leaves it.
    virtual void TakePartInTick(bool on) = 0;

protected:
    ~RequestSink() = default;
};

} // namespace zq
