// Identity of every interface of both IDL files against the published facts:
// IIDs, the vtable order of the generated header, and the procedures of the
// proxy/stub DLL (procedure number = slot, parameter count and directions).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interface_facts.h"
#include "proxy_dll.h"

namespace idltest {
namespace {

GUID Parse(const wchar_t *text)
{
    GUID guid{};
    EXPECT_EQ(CLSIDFromString(const_cast<LPWSTR>(text), &guid), S_OK) << "bad GUID text";
    return guid;
}

TEST(InterfaceIdentity, GeneratedIidsAreThePublishedOnes)
{
    for (const InterfaceFacts &itf : Interfaces())
        EXPECT_TRUE(IsEqualGUID(*itf.generated, Parse(itf.iid))) << itf.name;
}

TEST(InterfaceIdentity, LibraryCategoryAndClassIdsAreThePublishedOnes)
{
    EXPECT_TRUE(IsEqualGUID(LIBID_OPCHDA, Parse(L"{1F1217BA-DEE0-11D2-A5E5-000086339399}")));
    EXPECT_TRUE(IsEqualGUID(LIBID_OPCCOMN, Parse(L"{B28EEDB1-AC6F-11D1-84D5-00608CB8A7E9}")));
    EXPECT_TRUE(IsEqualGUID(LIBID_OpcEnumLib, Parse(L"{13486D43-4821-11D2-A494-3CB306C10000}")));
    EXPECT_TRUE(IsEqualGUID(CLSID_OpcServerList, Parse(L"{13486D51-4821-11D2-A494-3CB306C10000}")));
    // The HDA category differs from the interface IIDs in its fourth group (A5E6).
    EXPECT_TRUE(IsEqualGUID(CATID_OPCHDAServer10, Parse(L"{7DE5B060-E089-11D2-A5E6-000086339399}")));
    EXPECT_STREQ(OPC_CATEGORY_DESCRIPTION_HDA10, L"OPC History Data Access Servers Version 1.0");
}

TEST(VtableLayout, HeaderSlotsFollowThePublishedOrder)
{
    for (const InterfaceFacts &itf : Interfaces()) {
        EXPECT_EQ(itf.headerEntries, itf.entries) << itf.name;
        EXPECT_EQ(itf.methods.size() + 3, itf.entries) << itf.name;
        for (const MethodFacts &m : itf.methods)
            EXPECT_EQ(m.headerSlot, m.slot) << itf.name << "::" << m.name;
    }
}

class ProxyStubDll : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dll_ = &LoadProxyDll(kProxyDll);
        ASSERT_NE(dll_->files, nullptr) << "ZqOpcHda_ps.dll or its GetProxyDllInfo is missing";
    }
    const ProxyDll *dll_ = nullptr;
};

TEST_F(ProxyStubDll, ServesExactlyThePublishedInterfaces)
{
    unsigned total = 0;
    NdrListInterfaces(dll_->files, nullptr, 0, &total);
    EXPECT_EQ(total, Interfaces().size());
    for (const InterfaceFacts &itf : Interfaces()) {
        NdrInterface found{};
        ASSERT_TRUE(NdrFindInterface(dll_->files, *itf.generated, &found)) << itf.name;
        EXPECT_STREQ(found.name, itf.name);
        EXPECT_EQ(found.methods, itf.entries) << itf.name;
    }
}

TEST_F(ProxyStubDll, ProcedureNumbersAndParameterDirectionsFollowThePublishedOrder)
{
    for (const InterfaceFacts &itf : Interfaces()) {
        NdrInterface found{};
        ASSERT_TRUE(NdrFindInterface(dll_->files, *itf.generated, &found)) << itf.name;
        for (const MethodFacts &m : itf.methods) {
            SCOPED_TRACE(std::string(itf.name) + "::" + m.name);
            NdrProc proc{};
            ASSERT_TRUE(NdrDecodeProc(&found, m.slot, &proc));
            EXPECT_EQ(proc.proc_num, m.slot);
            size_t count = std::strlen(m.directions);
            ASSERT_EQ(proc.param_count, count + 1);  // and the HRESULT
            for (size_t i = 0; i < count; ++i) {
                unsigned dir = proc.params[i].flags & (NDR_PARAM_IN | NDR_PARAM_OUT);
                unsigned want = m.directions[i] == 'i'   ? NDR_PARAM_IN
                                : m.directions[i] == 'o' ? NDR_PARAM_OUT
                                                         : NDR_PARAM_IN | NDR_PARAM_OUT;
                EXPECT_EQ(dir, want) << "parameter " << i + 1;
            }
            const NdrParam &ret = proc.params[count];
            EXPECT_TRUE(ret.flags & NDR_PARAM_RETURN);
        }
    }
}

}  // namespace
}  // namespace idltest
