/* Included ahead of widl's proxy code. mingw-w64's unknwn headers declare the
   IUnknown proxy routines, which every proxy vtable starts with, only for C++;
   the proxy code is C. */
#ifndef ZQ_PROXY_PRELUDE_H
#define ZQ_PROXY_PRELUDE_H

#include <objbase.h>

#ifndef __cplusplus
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
#endif

#endif
