#include "ndr_format.h"

#include <string.h>

#define OI_HAS_RPCFLAGS 0x08
#define OI2_HAS_EXTENSIONS 0x40
#define FC_AUTO_HANDLE 0x33
#define FC_CALLBACK_HANDLE 0x34

static unsigned short u16(const unsigned char *p)
{
    return (unsigned short)(p[0] | (p[1] << 8));
}

static void fill(const ProxyFileInfo *file, unsigned long i, NdrInterface *out)
{
    const CInterfaceProxyVtbl *proxy = (const CInterfaceProxyVtbl *)file->pProxyVtblList[i];
    out->name = file->pNamesArray[i];
    out->iid = file->pStubVtblList[i]->header.piid;
    out->methods = file->pStubVtblList[i]->header.DispatchTableCount;
    out->info = (const MIDL_STUBLESS_PROXY_INFO *)proxy->header.pStublessProxyInfo;
}

int NdrFindInterface(const ProxyFileInfo *const *files, REFIID iid, NdrInterface *out)
{
    for (; *files; ++files)
        for (unsigned long i = 0; i < (*files)->TableSize; ++i)
            if (IsEqualIID((*files)->pStubVtblList[i]->header.piid, iid)) {
                fill(*files, i, out);
                return 1;
            }
    return 0;
}

unsigned NdrListInterfaces(const ProxyFileInfo *const *files, NdrInterface *out, unsigned max, unsigned *total)
{
    unsigned n = 0;
    for (; *files; ++files)
        for (unsigned long i = 0; i < (*files)->TableSize; ++i, ++n)
            if (n < max)
                fill(*files, i, &out[n]);
    if (total)
        *total = n;
    return n < max ? n : max;
}

int NdrDecodeProc(const NdrInterface *itf, unsigned slot, NdrProc *out)
{
    if (slot < 3 || slot >= itf->methods || !itf->info)
        return 0;
    const unsigned char *p = itf->info->ProcFormatString + itf->info->FormatStringOffset[slot];
    if (p[0] != FC_AUTO_HANDLE && p[0] != FC_CALLBACK_HANDLE)
        return 0;
    unsigned char oi = p[1];
    p += 2;
    if (oi & OI_HAS_RPCFLAGS)
        p += 4;
    out->proc_num = u16(p);
    p += 2 + 2 + 2 + 2; /* procedure number, stack size, client and server buffer sizes */
    unsigned char oi2 = p[0];
    out->param_count = p[1];
    p += 2;
    if (oi2 & OI2_HAS_EXTENSIONS)
        p += p[0];
    if (out->param_count > NDR_MAX_PARAMS)
        return 0;
    for (unsigned i = 0; i < out->param_count; ++i, p += 6) {
        NdrParam *prm = &out->params[i];
        memset(prm, 0, sizeof(*prm));
        prm->flags = u16(p);
        prm->stack_offset = u16(p + 2);
        if (prm->flags & NDR_PARAM_BASETYPE)
            prm->base_type = p[4];
        else
            prm->type_offset = u16(p + 4);
    }
    return 1;
}

const unsigned char *NdrTypeFormat(const NdrInterface *itf)
{
    return itf->info->pStubDesc->pFormatTypes;
}

int NdrCountMisdirectedOutParams(const ProxyFileInfo *const *files)
{
    int count = 0;
    for (; *files; ++files)
        for (unsigned long i = 0; i < (*files)->TableSize; ++i) {
            NdrInterface itf;
            fill(*files, i, &itf);
            for (unsigned slot = 3; slot < itf.methods; ++slot) {
                NdrProc proc;
                if (!NdrDecodeProc(&itf, slot, &proc))
                    return -1;
                for (unsigned k = 0; k < proc.param_count; ++k) {
                    const NdrParam *prm = &proc.params[k];
                    if (!(prm->flags & NDR_PARAM_OUT) ||
                        (prm->flags & (NDR_PARAM_BASETYPE | NDR_PARAM_SIMPLE_REF | NDR_PARAM_BYVALUE |
                                       NDR_PARAM_RETURN)))
                        continue;
                    if (NdrTypeFormat(&itf)[prm->type_offset] != NDR_FC_RP)
                        ++count;
                }
            }
        }
    return count;
}
