// Interface objects and steps still to be built: their requests answer
// E_NOINTERFACE and the tick step has nothing to run.
#include "com/hda_server.h"

namespace zq {

OwnedInterface *CreateAsyncReadInterface(HDAServer *) { return nullptr; }
OwnedInterface *CreateAsyncUpdateInterface(HDAServer *) { return nullptr; }
void RunClientTickStep(HDAServer &) {}

} // namespace zq
