/* Defines the GUIDs that the OPC headers declare outside any interface (the
   type library IDs and the OpcEnum class). The system headers are included
   first, so that initguid.h turns only the OPC headers' DEFINE_GUIDs into
   (select-any) definitions; the interface IDs duplicate those of *_i.c and
   fold with them. */
#include <rpc.h>
#include <rpcndr.h>
#include <windows.h>
#include <ole2.h>
#include <unknwn.h>
#include <oaidl.h>
#include <ocidl.h>
#include <comcat.h>

#include <initguid.h>

#include "opccomn.h"
#include "opchda.h"
