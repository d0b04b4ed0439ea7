// The event-message trace channel: hands a short text naming the method that
// runs to the host's trace function. Off by default; when off, a trace costs
// one test of a flag.
#pragma once

#include <atomic>

namespace zq {

using TraceFunction = void(__stdcall *)(char *text);

// Set once by EnableHDAEventMsgs; read by every traced method.
extern std::atomic<TraceFunction> g_traceFunction;

void TraceSlow(const char *text);
void TraceFormatSlow(const char *format, ...);

// Traces text (cut to 99 bytes and terminated) when tracing is on.
inline void Trace(const char *text)
{
    if (g_traceFunction.load(std::memory_order_relaxed) != nullptr)
        TraceSlow(text);
}

// printf-style trace; the text is only formatted when tracing is on.
#define ZQ_TRACEF(...)                                                                  \
    do {                                                                                \
        if (::zq::g_traceFunction.load(std::memory_order_relaxed) != nullptr)           \
            ::zq::TraceFormatSlow(__VA_ARGS__);                                         \
    } while (0)

} // namespace zq
