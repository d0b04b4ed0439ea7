// Stack reservations of the library's own threads. Without one, a thread
// reserves the program's default (1 MB for MSVC programs, 2 MB for mingw
// ones), and a 32-bit server with many clients runs out of address space:
// every client has a worker thread beside the COM runtime's call threads.
//
// - Tick thread: a hidden window, a thread timer and a message loop.
// - Client worker threads and the crew threads that run the clients' tick
//   steps: the transactions of the clients, which call the host's callback
//   methods (ReadAt, ReadProcessed, Insert, ...) and the clients' sinks
//   through the proxy/stub code. The host's callbacks must
//   therefore make do with what is left of 256 KB: no large arrays on the
//   stack, no deep recursion (the public header says so).
//
// Passed with STACK_SIZE_PARAM_IS_A_RESERVATION: the stack is reserved at
// this size and committed as it grows. Wine gives every thread at least
// 1 MB whatever is asked for.
#pragma once

#include <windows.h>

namespace zq {

constexpr SIZE_T kTickThreadStack = 128 * 1024;
constexpr SIZE_T kWorkerThreadStack = 256 * 1024;

} // namespace zq
