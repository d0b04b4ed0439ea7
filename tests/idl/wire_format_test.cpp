// Wire shapes in the format strings of the proxy/stub DLL: the corrected
// string and array out-parameters, 16-bit enums, 32-bit aggregate IDs, 4-byte
// BOOLs and OnPlayback's array of pointers.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "interface_facts.h"
#include "proxy_dll.h"

namespace idltest {
namespace {

constexpr unsigned char FC_LONG = 0x08;
constexpr unsigned char FC_BOGUS_ARRAY = 0x21;
constexpr unsigned char FC_PP = 0x4b;
constexpr unsigned char POINTER_SIMPLE = 0x08;
constexpr unsigned char POINTER_DEREF = 0x10;

unsigned short U16(const unsigned char *p)
{
    return static_cast<unsigned short>(p[0] | (p[1] << 8));
}

// (interface, slot, parameter number from 1)
using ParamId = std::tuple<std::string, unsigned, unsigned>;

// The out parameters whose type offset does not name a top-level reference pointer.
std::set<ParamId> MisdirectedOutParams(const ProxyFileInfo *const *files)
{
    std::set<ParamId> found;
    for (const InterfaceFacts &facts : Interfaces()) {
        NdrInterface itf{};
        if (!NdrFindInterface(files, *facts.generated, &itf))
            continue;
        for (unsigned slot = 3; slot < itf.methods; ++slot) {
            NdrProc proc{};
            if (!NdrDecodeProc(&itf, slot, &proc))
                continue;
            for (unsigned i = 0; i < proc.param_count; ++i) {
                const NdrParam &p = proc.params[i];
                if ((p.flags & NDR_PARAM_OUT) &&
                    !(p.flags & (NDR_PARAM_BASETYPE | NDR_PARAM_SIMPLE_REF | NDR_PARAM_BYVALUE | NDR_PARAM_RETURN)) &&
                    NdrTypeFormat(&itf)[p.type_offset] != NDR_FC_RP)
                    found.insert(ParamId(facts.name, slot, i + 1));
            }
        }
    }
    return found;
}

// Every string or string-array out parameter of both IDL files.
const std::set<ParamId> kStringOutParams = {
    {"IOPCHDA_Browser", 5, 2},    // GetItemID pszItemID: [out, string] LPWSTR*
    {"IOPCHDA_Browser", 6, 1},    // GetBranchPosition pszBranchPos
    {"IOPCHDA_Server", 3, 3},     // GetItemAttributes ppszAttrName: [out, size_is(,n), string] LPWSTR**
    {"IOPCHDA_Server", 3, 4},     // GetItemAttributes ppszAttrDesc
    {"IOPCHDA_Server", 4, 3},     // GetAggregates ppszAggrName
    {"IOPCHDA_Server", 4, 4},     // GetAggregates ppszAggrDesc
    {"IOPCHDA_Server", 5, 8},     // GetHistorianStatus ppszStatusString
    {"IOPCHDA_Server", 5, 9},     // GetHistorianStatus ppszVendorInfo
    {"IOPCCommon", 6, 2},         // GetErrorString ppString
    {"IOPCServerList", 4, 2},     // GetClassDetails ppszProgID: LPOLESTR*
    {"IOPCServerList", 4, 3},     // GetClassDetails ppszUserType
    {"IOPCServerList2", 4, 2},    // GetClassDetails ppszProgID
    {"IOPCServerList2", 4, 3},    // GetClassDetails ppszUserType
    {"IOPCServerList2", 4, 4},    // GetClassDetails ppszVerIndProgID
};

class WireFormat : public ::testing::Test
{
protected:
    void SetUp() override
    {
        files_ = LoadProxyDll(kProxyDll).files;
        ASSERT_NE(files_, nullptr);
    }

    // Parameter `number` (from 1) of the method in `slot` of `iid`.
    NdrParam Param(REFIID iid, unsigned slot, unsigned number)
    {
        NdrProc proc{};
        EXPECT_TRUE(NdrFindInterface(files_, iid, &itf_));
        EXPECT_TRUE(NdrDecodeProc(&itf_, slot, &proc));
        EXPECT_LT(number, proc.param_count);
        return proc.params[number - 1];
    }
    // The type descriptor a parameter names.
    const unsigned char *Type(REFIID iid, unsigned slot, unsigned number)
    {
        NdrParam p = Param(iid, slot, number);
        EXPECT_FALSE(p.flags & NDR_PARAM_BASETYPE);
        return NdrTypeFormat(&itf_) + p.type_offset;
    }
    // A pointer to one enum value (an [out] enum).
    void ExpectPointerToEnum16(REFIID iid, unsigned slot, unsigned number)
    {
        const unsigned char *t = Type(iid, slot, number);
        EXPECT_EQ(t[0], NDR_FC_RP);
        EXPECT_TRUE(t[1] & POINTER_SIMPLE);
        EXPECT_EQ(t[2], NDR_FC_ENUM16);
    }
    // A conformant array of 32-bit integers.
    void ExpectLongArray(REFIID iid, unsigned slot, unsigned number)
    {
        const unsigned char *t = Type(iid, slot, number);
        EXPECT_EQ(t[0], NDR_FC_CARRAY);
        EXPECT_EQ(U16(t + 2), 4u);
        EXPECT_EQ(t[8], FC_LONG);
    }

    const ProxyFileInfo *const *files_ = nullptr;
    NdrInterface itf_{};
};

TEST_F(WireFormat, EveryOutParameterNamesItsTopLevelReferencePointer)
{
    EXPECT_EQ(NdrCountMisdirectedOutParams(files_), 0);
    EXPECT_TRUE(MisdirectedOutParams(files_).empty());
    // The corrected string parameters name the pointer that the stub allocates
    // and dereferences.
    for (const ParamId &id : kStringOutParams) {
        SCOPED_TRACE(std::get<0>(id) + " slot " + std::to_string(std::get<1>(id)));
        const InterfaceFacts *facts = nullptr;
        for (const InterfaceFacts &f : Interfaces())
            if (std::get<0>(id) == f.name)
                facts = &f;
        ASSERT_NE(facts, nullptr);
        const unsigned char *t = Type(*facts->generated, std::get<1>(id), std::get<2>(id));
        EXPECT_EQ(t[0], NDR_FC_RP);
        EXPECT_TRUE(t[1] & POINTER_DEREF);
    }
}

TEST_F(WireFormat, UncorrectedCodeMisdirectsExactlyTheStringOutParameters)
{
    const ProxyFileInfo *const *raw = LoadProxyDll(kUnfixedProxyDll).files;
    ASSERT_NE(raw, nullptr) << "ZqOpcHda_unfixed.dll is missing";
    std::set<ParamId> misdirected = MisdirectedOutParams(raw);
    if (misdirected.empty())
        GTEST_SKIP() << "this widl writes correct type offsets; the correction changes nothing";
    EXPECT_EQ(misdirected, kStringOutParams);
    EXPECT_EQ(NdrCountMisdirectedOutParams(raw), static_cast<int>(kStringOutParams.size()));
}

TEST_F(WireFormat, EnumsAreSixteenBitValues)
{
    EXPECT_EQ(Param(IID_IOPCHDA_Browser, 3, 1).base_type, NDR_FC_ENUM16);  // GetEnum dwBrowseType
    EXPECT_EQ(Param(IID_IOPCHDA_Browser, 4, 1).base_type, NDR_FC_ENUM16);  // ChangeBrowsePosition
    ExpectPointerToEnum16(IID_IOPCHDA_Server, 5, 1);                       // GetHistorianStatus pwStatus
    ExpectPointerToEnum16(IID_IOPCHDA_SyncUpdate, 3, 1);                   // QueryCapabilities
    ExpectPointerToEnum16(IID_IOPCHDA_AsyncUpdate, 3, 1);
    ExpectPointerToEnum16(IID_IOPCHDA_SyncAnnotations, 3, 1);
    ExpectPointerToEnum16(IID_IOPCHDA_AsyncAnnotations, 3, 1);

    // CreateBrowse pOperator: an array of 16-bit enums (4 bytes each in memory).
    const unsigned char *ops = Type(IID_IOPCHDA_Server, 9, 3);
    EXPECT_EQ(ops[0], FC_BOGUS_ARRAY);
    EXPECT_EQ(ops[12], NDR_FC_ENUM16);

    // No procedure of either file takes a 32-bit enum.
    for (const InterfaceFacts &facts : Interfaces())
        for (const MethodFacts &m : facts.methods) {
            NdrProc proc{};
            ASSERT_TRUE(NdrFindInterface(files_, *facts.generated, &itf_));
            ASSERT_TRUE(NdrDecodeProc(&itf_, m.slot, &proc));
            for (unsigned i = 0; i < proc.param_count; ++i) {
                if (proc.params[i].flags & NDR_PARAM_BASETYPE) {
                    EXPECT_NE(proc.params[i].base_type, NDR_FC_ENUM32) << facts.name << "::" << m.name;
                }
            }
        }
}

TEST_F(WireFormat, AggregateIdsAreThirtyTwoBit)
{
    ExpectLongArray(IID_IOPCHDA_SyncRead, 4, 6);   // ReadProcessed haAggregate
    ExpectLongArray(IID_IOPCHDA_AsyncRead, 5, 7);  // ReadProcessed haAggregate
    ExpectLongArray(IID_IOPCHDA_AsyncRead, 6, 6);  // AdviseProcessed haAggregate
    ExpectLongArray(IID_IOPCHDA_Playback, 4, 9);   // ReadProcessedWithUpdate haAggregate
}

TEST_F(WireFormat, BoolIsAFourByteValue)
{
    EXPECT_EQ(Param(IID_IOPCHDA_SyncRead, 3, 4).base_type, FC_LONG);   // ReadRaw bBounds
    EXPECT_EQ(Param(IID_IOPCHDA_AsyncRead, 3, 5).base_type, FC_LONG);  // ReadRaw bBounds
}

TEST_F(WireFormat, OnPlaybackSendsAnArrayOfPointersToSingleItems)
{
    const unsigned char *items = Type(IID_IOPCHDA_DataCallback, 4, 4);     // OnReadComplete
    const unsigned char *pointers = Type(IID_IOPCHDA_DataCallback, 9, 4);  // OnPlayback
    if (sizeof(void *) == 4) {
        // OnReadComplete: one array of OPCHDA_ITEM structures (24 bytes each).
        EXPECT_EQ(items[0], NDR_FC_CARRAY);
        EXPECT_EQ(U16(items + 2), sizeof(OPCHDA_ITEM));
        // OnPlayback: an array of dwNumItems pointers, each followed on the wire.
        EXPECT_EQ(pointers[0], NDR_FC_CARRAY);
        EXPECT_EQ(U16(pointers + 2), sizeof(void *));
        EXPECT_EQ(pointers[8], FC_PP);
        return;
    }
    // x86_64: structures with pointers make complex arrays; the element
    // description follows the array's header (12 bytes). OnReadComplete's
    // elements are OPCHDA_ITEM structures themselves (40 bytes each),
    // OnPlayback's are unique pointers to that same structure.
    const unsigned char kBogusArray = 0x21, kEmbeddedComplex = 0x4c;
    ASSERT_EQ(items[0], kBogusArray);
    ASSERT_EQ(items[12], kEmbeddedComplex);
    const unsigned char *item = items + 14 + static_cast<short>(U16(items + 14));
    EXPECT_EQ(U16(item + 2), sizeof(OPCHDA_ITEM));
    ASSERT_EQ(pointers[0], kBogusArray);
    ASSERT_EQ(pointers[12], NDR_FC_UP);
    EXPECT_EQ(pointers + 14 + static_cast<short>(U16(pointers + 14)), item);
}

}  // namespace
}  // namespace idltest
