/* What the registration code of ZqOpcHda_ps.dll needs to know about the
   proxy file list (ps_dlldata.c), without the NDR structures, which are
   declared for C only. */
#ifndef ZQ_PS_INTERFACES_H
#define ZQ_PS_INTERFACES_H

#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ZqPsInterface
{
    const IID *iid;
    const char *name;       /* the interface name as the IDL spells it */
    unsigned long methods;  /* vtable entries, IUnknown's three included */
} ZqPsInterface;

/* The index-th interface of the proxy file list (both IDL files, in order);
   zero past the last one. */
int ZqPsInterfaceAt(unsigned long index, ZqPsInterface *out);

/* The class ID of this DLL's proxy/stub factory. */
const CLSID *ZqPsFactoryClsid(void);

#ifdef __cplusplus
}
#endif

#endif
