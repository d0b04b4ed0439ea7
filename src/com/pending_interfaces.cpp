// Interface objects still to be built: their requests answer E_NOINTERFACE.
#include "com/hda_server.h"

namespace zq {

OwnedInterface *CreateServerInterface(HDAServer *) { return nullptr; }

} // namespace zq
