#include "runtime/trace.h"

#include <windows.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "runtime/server_state.h"

namespace zq {

std::atomic<TraceFunction> &TraceSetting() { return State().settings.trace; }

namespace {
constexpr size_t kTraceBuffer = 100;

void Deliver(char (&buffer)[kTraceBuffer])
{
    TraceFunction fn = TraceSetting().load(std::memory_order_acquire);
    if (fn != nullptr)
        fn(buffer);
}
} // namespace

void TraceSlow(const char *text)
{
    char buffer[kTraceBuffer] = {};
    if (text != nullptr) {
        size_t n = strnlen(text, kTraceBuffer - 1);
        memcpy(buffer, text, n);
    }
    Deliver(buffer);
}

void TraceFormatSlow(const char *format, ...)
{
    char buffer[kTraceBuffer] = {};
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        buffer[0] = '\0';
    // Some runtimes leave a truncated text unterminated.
    buffer[kTraceBuffer - 1] = '\0';
    // Bytes after the text stay zero, as the host may read the whole buffer.
    size_t len = strnlen(buffer, kTraceBuffer - 1);
    memset(buffer + len, 0, kTraceBuffer - len);
    Deliver(buffer);
}

} // namespace zq
