// Registration calls that need a process of their own: one whose thread never
// initialised COM, and one in which no class identifier was stored yet.
// Prints "result=<n>" for the test to check.
//   registry_probe service <name>
//   registry_probe update <class text> <ProgID> <description> <server path>
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "module.h"
#include "runtime/server_state.h"

int main(int argc, char **argv)
{
    if (!zq::ModuleLoad(GetModuleHandleW(nullptr)))
        return 2;
    int result = -1;
    if (argc == 3 && std::strcmp(argv[1], "service") == 0) {
        result = HDAAddLocalServiceKeysToRegistry(argv[2]);
    } else if (argc == 6 && std::strcmp(argv[1], "update") == 0) {
        wchar_t text[64] = {};
        CLSID clsid;
        if (MultiByteToWideChar(CP_ACP, 0, argv[2], -1, text, 64) == 0 ||
            FAILED(CLSIDFromString(text, &clsid)))
            return 4;
        result = HDAUpdateRegistry(clsid, argv[3], argv[4], argv[5]);
    } else {
        return 3;
    }
    std::printf("result=%d\n", result);
    std::fflush(stdout);
    return 0;
}
