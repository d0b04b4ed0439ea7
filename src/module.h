// Module load and unload: the one place that knows every layer of the
// library, so that the runtime below never reaches up into the address
// space, the user list or the COM objects.
#pragma once

#include <windows.h>

namespace zq {

// Module load: hands the COM objects down to start-up, then sets the
// qualifier, the server lock, the vendor string and the tick event. False if
// the tick event cannot be created.
bool ModuleLoad(HMODULE module);

// Module unload. processExit: the process is ending (every other thread is
// already gone); nothing that calls out of the process or waits is done then.
void ModuleUnload(bool processExit);

} // namespace zq
