// IOPCCommon: the one locale, error texts and the client name.
#include "com_fixture.h"

#include <string>

#include "opchda_constants.h"

using namespace zqtest;

namespace {

class Common : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateServer(IID_IOPCCommon, reinterpret_cast<void **>(&common)), S_OK);
    }
    void TearDown() override
    {
        common->Release();
        EXPECT_TRUE(AllServersDestroyed());
    }

    std::wstring Text(HRESULT code)
    {
        LPWSTR s = nullptr;
        EXPECT_EQ(common->GetErrorString(code, &s), S_OK);
        std::wstring w = s != nullptr ? s : L"";
        CoTaskMemFree(s);
        return w;
    }

    IOPCCommon *common = nullptr;
};

} // namespace

TEST_F(Common, OnlyTheSystemDefaultLocale)
{
    EXPECT_EQ(common->SetLocaleID(0x800), S_OK);
    EXPECT_EQ(common->SetLocaleID(0x409), E_INVALIDARG);
    LCID lcid = 0;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 0x800u);

    DWORD count = 99;
    LCID *ids = nullptr;
    ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &ids), S_OK);
    ASSERT_EQ(count, 1u);
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(ids[0], 0x800u);
    CoTaskMemFree(ids);

    EXPECT_EQ(common->GetLocaleID(nullptr), E_INVALIDARG);
    EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, &ids), E_INVALIDARG);
    EXPECT_EQ(ids, nullptr);
    EXPECT_EQ(common->GetErrorString(S_OK, nullptr), E_INVALIDARG);
}

TEST_F(Common, ErrorTextsFromTheTableTheSystemAndTheGenericText)
{
    EXPECT_EQ(Text(OPC_E_UNKNOWNITEMID),
              L"OPC_E_UNKNOWNITEMID: The item definition does not exist within the servers address space");
    EXPECT_EQ(Text(OPC_E_INVALID_PID),
              L"OPC_E_INVALID_PID: The server does not recognise the passed property ID.");
    // HDA codes are not in the table and the system has no text for them.
    EXPECT_EQ(Text(OPC_S_NODATA), L"<unknown error: 0x40041002 1074008066>");
    EXPECT_EQ(Text(OPC_E_MAXEXCEEDED), L"<unknown error: 0xC0041001 -1073475583>");
    // A Windows code gets the system's own text (not asserted word for word).
    std::wstring sys = Text(E_FAIL);
    EXPECT_FALSE(sys.empty());
    EXPECT_EQ(sys.find(L"<unknown error"), std::wstring::npos);
}

TEST_F(Common, ClientNameIsStored)
{
    EXPECT_EQ(common->SetClientName(L"Trend viewer"), S_OK);
    IUnknown *unk = nullptr;
    ASSERT_EQ(common->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    auto *server = static_cast<zq::HDAServer *>(unk);
    EXPECT_EQ(server->ClientName(), "Trend viewer");
    EXPECT_EQ(common->SetClientName(nullptr), S_OK);
    EXPECT_EQ(server->ClientName(), "");
    unk->Release();
}
