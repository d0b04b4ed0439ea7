// The event-message trace channel: hands a short text naming the method that
// runs to the host's trace function (the trace setting, EnableHDAEventMsgs).
// Off by default; when off, a trace costs one test of that setting.
#pragma once

#include <atomic>

namespace zq {

using TraceFunction = void(__stdcall *)(char *text);

// The host's trace function: the trace setting of the server state
// (HostSettings::trace, runtime/server_state.h), set by EnableHDAEventMsgs
// and read by every traced method.
std::atomic<TraceFunction> &TraceSetting();

// Whether the host has a trace function installed.
inline bool Tracing() { return TraceSetting().load(std::memory_order_relaxed) != nullptr; }

void TraceSlow(const char *text);
void TraceFormatSlow(const char *format, ...);

// Traces text (cut to 99 bytes and terminated) when tracing is on.
inline void Trace(const char *text)
{
    if (Tracing())
        TraceSlow(text);
}

// printf-style trace; the text is only formatted when tracing is on.
#define ZQ_TRACEF(...)                                                                  \
    do {                                                                                \
        if (::zq::Tracing())                                                            \
            ::zq::TraceFormatSlow(__VA_ARGS__);                                         \
    } while (0)

} // namespace zq
