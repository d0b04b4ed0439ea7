#include "module.h"

#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"
#include "com/class_factory.h"
#include "com/registration_anchor.h"
#include "runtime/server_state.h"
#include "runtime/startup.h"
#include "security/users.h"

namespace zq {

bool ModuleLoad(HMODULE module)
{
    ServerObjects objects;
    objects.createFactory = CreateServerClassFactory;
    objects.deleteFactory = DeleteServerClassFactory;
    objects.anchorInterfaces = AnchorInterfaceRegistrations;
    objects.releaseAnchors = ReleaseInterfaceAnchors;
    SetServerObjects(objects);
    return LoadServerState(module);
}

// Unload order. Once started, the module pins itself (see InitZqHDAsvr): its
// tick thread and client worker threads run its code and cannot be stopped
// safely from the loader's notification, so a started server is only ever
// unloaded when the process ends. At that point Windows has already ended
// every other thread, including the RPC threads that would carry a client's
// answer, and the loader lock is held: a call to a client, a class-object
// revocation or a wait could hang the exit. Those steps are therefore taken
// only when the module is unloaded while the process goes on (which, for a
// started server, happens only when the library is linked into a test
// program). Hosts tell their clients with RequestHDADisconnect before exit.
void ModuleUnload(bool processExit)
{
    // 1. The timer-mode timer.
    StopTimerMode();
    // 2. Users.
    DeleteAllUsers(processExit);
    // 3-4. Shutdown requests to the remaining clients, their workers, the
    // tick event.
    const long told = EndClients(processExit);
    // 5. The item tree; 6. the catalogues.
    ClearItemTree(processExit);
    ClearCatalogues(processExit);
    // 7. The server lock; 8. the class factory.
    EndServerState(processExit);
    // 9. Give clients that were told a moment to let go.
    if (told > 0)
        Sleep(2000);
}

} // namespace zq
