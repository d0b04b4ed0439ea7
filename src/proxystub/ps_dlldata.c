/* Proxy/stub DLL of the OPC HDA and OPC Common interfaces: widl's proxy file
   list with the standard class factory, DllMain and self-registration of
   rpcproxy.h (every interface goes under Interface\{IID} with this DLL's
   factory as ProxyStubClsid32). */
#include "ps_clsid.h"

#define REGISTER_PROXY_DLL
#ifdef ZQ_PS_UNFIXED
#define PROXY_CLSID_IS ZQ_OPC_PS_UNFIXED_CLSID_INIT
#else
#define PROXY_CLSID_IS ZQ_OPC_PS_CLSID_INIT
#endif

#include "dlldata.c"
