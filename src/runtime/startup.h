// Start-up of the COM server and the tick.
#pragma once

#include <windows.h>

namespace zq {

enum class TickMode { NotStarted, Thread, Timer };

TickMode CurrentTickMode();

// Unload helpers: kill the timer-mode timer; revoke (when allowed to call
// COM) and delete the class factory.
void StopTimerMode();
void RevokeClassFactory(bool callCom);

} // namespace zq
