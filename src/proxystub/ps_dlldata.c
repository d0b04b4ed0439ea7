/* Proxy/stub DLL of the OPC HDA and OPC Common interfaces: widl's proxy file
   list with the standard class factory of rpcproxy.h. Self-registration is
   not the standard one (which claims every interface for this DLL and, when
   unregistering, removes them whoever they belonged to): ps_register.cpp
   registers beside other proxy/stub DLLs of the same interfaces. */
#include "ps_clsid.h"
#include "ps_interfaces.h"

#ifdef ZQ_PS_UNFIXED
#define PROXY_CLSID_IS ZQ_OPC_PS_UNFIXED_CLSID_INIT
#else
#define PROXY_CLSID_IS ZQ_OPC_PS_CLSID_INIT
#endif

#include "dlldata.c"

int ZqPsInterfaceAt(unsigned long index, ZqPsInterface *out)
{
    const ProxyFileInfo *const *file;
    for (file = (const ProxyFileInfo *const *)aProxyFileList; *file != NULL; ++file) {
        if (index < (*file)->TableSize) {
            const CInterfaceStubVtbl *stub = (*file)->pStubVtblList[index];
            out->iid = stub->header.piid;
            out->name = (*file)->pNamesArray[index];
            out->methods = stub->header.DispatchTableCount;
            return 1;
        }
        index -= (*file)->TableSize;
    }
    return 0;
}

const CLSID *ZqPsFactoryClsid(void)
{
    return &CLSID_PSFactoryBuffer;
}
