// The export table carries every function under its decorated stdcall name
// and its plain name, both bound to the same code; the import library binds
// a host compiled against the public header to the decorated names.
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

// Every exported function with the size of its stdcall arguments.
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
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dir.VirtualAddress);
    auto nameRvas = reinterpret_cast<const DWORD *>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char *>(base + nameRvas[i]));
    return names;
}

} // namespace

TEST(Exports, DecoratedAndPlainNamesBindToTheSameFunction)
{
    HMODULE m = LoadLibraryA("ZqHDAsvr.dll");
    ASSERT_NE(m, nullptr);
    std::set<std::string> names = ExportNames(m);
    for (const Export &e : kExports) {
        std::string decorated = "_" + std::string(e.name) + "@" + std::to_string(e.argBytes);
        EXPECT_TRUE(names.count(decorated)) << decorated;
        EXPECT_TRUE(names.count(e.name)) << e.name;
        FARPROC a = GetProcAddress(m, decorated.c_str());
        FARPROC b = GetProcAddress(m, e.name);
        EXPECT_NE(a, nullptr) << decorated;
        EXPECT_EQ(a, b) << e.name;
    }
    // The callback class is exported with its virtual-function table.
    bool vtable = false;
    for (const auto &n : names)
        vtable = vtable || n.find("_ZTV14CZqHDACallback") == 0;
    EXPECT_TRUE(vtable);
    FreeLibrary(m);
}

TEST(Exports, ImportLibraryBindsTheDecoratedNames)
{
    // Called through the import library: resolved by the loader at start.
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    HMODULE m = GetModuleHandleA("ZqHDAsvr.dll");
    ASSERT_NE(m, nullptr);
    using Fn = long(__stdcall *)(void);
    auto viaName = reinterpret_cast<Fn>(GetProcAddress(m, "_NumbrHDAClientConnections@0"));
    ASSERT_NE(viaName, nullptr);
    EXPECT_EQ(viaName(), NumbrHDAClientConnections());
}
