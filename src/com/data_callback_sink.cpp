#include "com/data_callback_sink.h"

#include "com/connection_container.h"
#include "com/connection_point.h"
#include "com/hda_server.h"
#include "history/transaction.h"

namespace zq {

bool DataCallbackSink::Advised() { return DataCallbackCheck(owner_); }

bool DataCallbackSink::BeginDeliveries()
{
    // Taken without the client lock: the sink's AddRef is a call to the
    // client. The data callback point holds its sink as IOPCHDA_DataCallback.
    point_ = DataCallbackLookup(owner_);
    sink_ = point_ != nullptr ? static_cast<IOPCHDA_DataCallback *>(point_->SinkWithReference())
                              : nullptr;
    return sink_ != nullptr;
}

bool DataCallbackSink::StillAdvised() { return point_ != nullptr && point_->Holds(sink_); }

RequestSink::Answer DataCallbackSink::Deliver(const Delivery &delivery)
{
    const HRESULT hr = delivery.Deliver(sink_);
    if (!SinkIsGone(hr))
        return Answer::Delivered;
    // If the point still held the sink, it lets go of it as Unadvise would.
    return point_->DropGoneSink(sink_, hr) ? Answer::GoneAndDropped : Answer::Gone;
}

void DataCallbackSink::EndDeliveries()
{
    // The sink first, then the point; the point's release may be the
    // HDAServer's last reference (its removal from the client list).
    IOPCHDA_DataCallback *sink = sink_;
    ConnectionPoint *point = point_;
    sink_ = nullptr;
    point_ = nullptr;
    if (sink != nullptr)
        sink->Release();
    if (point != nullptr)
        point->Release();
}

void DataCallbackSink::TakePartInTick(bool on) { owner_.Worker().TakePartInTick(on); }

} // namespace zq
