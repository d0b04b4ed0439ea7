/* Makes the calling process marshal every OPC interface with the proxy/stub
   code widl generated, without the correction of tools/fix_widl_proxy.py
   (ZqOpcHda_unfixed.dll next to the executable, never registered). The
   process-wide override cannot be undone, so only processes that exist to
   show the uncorrected behaviour call it. */
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

HRESULT UseUnfixedProxies(void);

/* After UseUnfixedProxies: how many out parameters the uncorrected code
   describes with a misdirected type offset (0 once widl gets them right), or
   -1 if the code could not be read. */
int UnfixedMisdirectedParams(void);

#ifdef __cplusplus
}
#endif
