// The export table carries every function under its plain name and, on
// i686, also under its decorated stdcall name, both bound to the same code;
// the import library binds a host compiled against the public header (to the
// decorated names on i686). x86_64 has no stdcall decoration: there the plain
// names are the only ones.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "ZqHDAsvr.h"

namespace {

struct Export
{
    const char *name;
    int argBytes;
};

// Every exported function with the size of its i686 stdcall arguments.
const Export kExports[] = {
    {"InitZqHDAsvr", 20},
    {"InitZqHDAsvr1", 8},
    {"EnableHDAEventMsgs", 4},
    {"EnableHDADisconnectNotification", 4},
    {"NumbrHDAClientConnections", 0},
    {"RequestHDADisconnect", 0},
    {"SetHDAVendorInfo", 4},
    {"SetHDAReadLimits", 8},
    {"SetHDAQualityStyle", 4},
    {"EnableHDAAdviseProcessed", 4},
    {"EnableHDAStandardAggregates", 4},
    {"SetHDAAggregateConfiguration", 16},
    {"SetHDAServerCallback", 4},
    {"EnableGetTimeStampCallback", 4},
    {"EnableGetPreviousTimeStampCallback", 4},
    {"EnableGetNextTimeStampCallback", 4},
    {"EnableReadAtCallback", 4},
    {"EnableReadCurrentAttributeCallback", 4},
    {"EnableReadAttributeAtCallback", 4},
    {"EnablePrepareAggregatesCallback", 4},
    {"EnableReadProcessedCallback", 4},
    {"EnableQueryUpdateCapabilitiesCallback", 4},
    {"EnableInsertCallback", 4},
    {"EnableReplaceCallback", 4},
    {"EnableInsertReplaceCallback", 4},
    {"EnableDeleteRawCallback", 4},
    {"EnableDeleteAtCallback", 4},
    {"EnableReadAnnotationsCallback", 4},
    {"EnableInsertAnnotationCallback", 4},
    {"EnableReadModifiedCallback", 4},
    {"HDAConvertVBDateToFileTime", 8},
    {"HDAConvertFileTimeToVBDate", 8},
    {"HDAResolveTime", 12},
    {"StartHDAUaEndpoint", 8},
    {"StopHDAUaEndpoint", 0},
    {"SetHDAUaUserCheck", 4},
    {"SetHDAServerStatus", 8},
    {"HDAUpdateRegistry", 28},
    {"HDAUpdateRegistry1", 16},
    {"HDAAddLocalServiceKeysToRegistry", 4},
    {"UnregisterHDAServer", 20},
    {"UnregisterHDAServer1", 8},
    {"DefineHDAItem", 4},
    {"DeleteHDAItem", 4},
    {"SetZqHDAsvrQualifier", 4},
    {"DefineHDAAttribute", 20},
    {"DefineHDAAggregate", 12},
    {"EnableHDASecurity", 8},
    {"DefineHDAUser", 12},
    {"DefineSecureHDAItem", 12},
};

// Names in the module's export directory.
std::set<std::string> ExportNames(HMODULE m)
{
    std::set<std::string> names;
    auto base = reinterpret_cast<const BYTE *>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);  // of this architecture
    // The module is of the test's own architecture (PE32 or PE32+).
    EXPECT_EQ(nt->OptionalHeader.Magic, sizeof(void *) == 8 ? IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                                            : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    auto nameRvas = reinterpret_cast<const DWORD *>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char *>(base + nameRvas[i]));
    return names;
}

} // namespace

#ifdef _WIN64
constexpr bool kDecorated = false;
#else
constexpr bool kDecorated = true;
#endif

TEST(Exports, EveryFunctionUnderItsPlainNameAndOnI686ItsDecoratedName)
{
    HMODULE m = LoadLibraryA("ZqHDAsvr.dll");
    ASSERT_NE(m, nullptr);
    std::set<std::string> names = ExportNames(m);
    for (const Export &e : kExports) {
        EXPECT_TRUE(names.count(e.name)) << e.name;
        FARPROC plain = GetProcAddress(m, e.name);
        EXPECT_NE(plain, nullptr) << e.name;
        std::string decorated = "_" + std::string(e.name) + "@" + std::to_string(e.argBytes);
        EXPECT_EQ(names.count(decorated), kDecorated ? 1u : 0u) << decorated;
        if (kDecorated) {
            EXPECT_EQ(GetProcAddress(m, decorated.c_str()), plain) << e.name;
        }
    }
    // Nothing else: every exported name is a listed function (under one of
    // its names) or a symbol of the callback class.
    size_t functions = 0, decoratedNames = 0, classSymbols = 0;
    for (const std::string &n : names) {
        if (n.find("CZqHDACallback") != std::string::npos)
            ++classSymbols;
        else if (n.find('@') != std::string::npos)
            ++decoratedNames;
        else
            ++functions;
    }
    EXPECT_EQ(functions, sizeof(kExports) / sizeof(kExports[0]));
    EXPECT_EQ(decoratedNames, kDecorated ? functions : 0u);
    EXPECT_GT(classSymbols, 0u);
    // The callback class is exported with its virtual-function table.
    bool vtable = false;
    for (const auto &n : names)
        vtable = vtable || n.find("_ZTV14CZqHDACallback") == 0;
    EXPECT_TRUE(vtable);
    FreeLibrary(m);
}

TEST(Exports, ImportLibraryBindsTheExports)
{
    // Called through the import library: resolved by the loader at start.
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    HMODULE m = GetModuleHandleA("ZqHDAsvr.dll");
    ASSERT_NE(m, nullptr);
    using Fn = long(__stdcall *)(void);
    FARPROC found = GetProcAddress(m, kDecorated ? "_NumbrHDAClientConnections@0" : "NumbrHDAClientConnections");
    auto viaName = reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(found));
    ASSERT_NE(viaName, nullptr);
    EXPECT_EQ(viaName(), NumbrHDAClientConnections());
}
