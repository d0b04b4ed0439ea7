/* Reads the interpreted (-Oif) format strings of a proxy/stub DLL through its
   proxy file list: the procedure of each vtable slot with its parameters and
   the type descriptors they name. */
#pragma once

#include <windows.h>
#include <objbase.h>
/* The proxies are stubless: their headers carry the proxy info. */
#ifndef USE_STUBLESS_PROXY
#define USE_STUBLESS_PROXY
#endif
#include <rpcproxy.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parameter attribute bits. */
#define NDR_PARAM_IN 0x0008
#define NDR_PARAM_OUT 0x0010
#define NDR_PARAM_RETURN 0x0020
#define NDR_PARAM_BASETYPE 0x0040
#define NDR_PARAM_BYVALUE 0x0080
#define NDR_PARAM_SIMPLE_REF 0x0100

/* Format characters the tests look at. */
#define NDR_FC_RP 0x11
#define NDR_FC_UP 0x12
#define NDR_FC_OP 0x13
#define NDR_FC_CARRAY 0x1b
#define NDR_FC_ENUM16 0x0d
#define NDR_FC_ENUM32 0x0e

#define NDR_MAX_PARAMS 16

typedef struct NdrParam
{
    unsigned short flags;
    unsigned short stack_offset;
    unsigned char base_type;    /* with NDR_PARAM_BASETYPE */
    unsigned short type_offset; /* without it */
} NdrParam;

typedef struct NdrProc
{
    unsigned short proc_num;
    unsigned param_count; /* the return value included */
    NdrParam params[NDR_MAX_PARAMS];
} NdrProc;

typedef struct NdrInterface
{
    const char *name;
    const IID *iid;
    unsigned long methods; /* vtable entries, IUnknown's included */
    const MIDL_STUBLESS_PROXY_INFO *info;
} NdrInterface;

/* Finds iid in a proxy file list; returns 0 if the list does not serve it. */
int NdrFindInterface(const ProxyFileInfo *const *files, REFIID iid, NdrInterface *out);

/* Every interface of the list, in list order; returns how many were written
   (at most max) and the total in *total. */
unsigned NdrListInterfaces(const ProxyFileInfo *const *files, NdrInterface *out, unsigned max, unsigned *total);

/* Decodes the procedure of vtable slot (3 or more); returns 0 on a shape it
   does not know. */
int NdrDecodeProc(const NdrInterface *itf, unsigned slot, NdrProc *out);

/* The type format string of an interface. */
const unsigned char *NdrTypeFormat(const NdrInterface *itf);

/* An out parameter that the engine walks through its type description (not a
   base type, simple reference or by-value struct) must name the top-level
   reference pointer. Returns how many parameters of all interfaces of the
   list name something else (what widl writes for string and array
   out-parameters before the build corrects it), or -1 on an unknown shape. */
int NdrCountMisdirectedOutParams(const ProxyFileInfo *const *files);

#ifdef __cplusplus
}
#endif
