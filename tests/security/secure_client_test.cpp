// Access control seen by a client: rights fixed when the client obtains its
// handles decide its reads and updates, and refused items never reach the
// host. The caller's identity is the test's own token (TestIdentity).
#include "com_fixture.h"

#include <string>

#include "hda_values.h"
#include "opchda_constants.h"
#include "security/users.h"
#include "test_host.h"
#include "test_identity.h"

using namespace zqtest;

namespace {

std::string Me()
{
    char name[256] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

class SecureClient : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static bool defined = false;
        if (!defined) {
            // Read needs right 0x1, write right 0x2.
            ASSERT_NE(DefineSecureHDAItem("Secure.Tag", 0x00010000, 0x00020000), ZQHDA_INVALID_ITEM);
            defined = true;
        }
        zq::DeleteAllUsers();
        installed_ = new HostInstalled(&host);
        ASSERT_EQ(CreateServer(IID_IOPCHDA_Server, reinterpret_cast<void **>(&server)), S_OK);
        ASSERT_EQ(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read)), S_OK);
        ASSERT_EQ(server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void **>(&update)),
                  S_OK);
    }
    void TearDown() override
    {
        update->Release();
        read->Release();
        server->Release();
        EXPECT_TRUE(AllServersDestroyed());
        delete installed_;
        EnableHDASecurity(0, 0);
        zq::DeleteAllUsers();
    }

    // Handles for the secure item, obtained with the test identity.
    OPCHANDLE Handle()
    {
        TestIdentity id;
        id.level = identityLevel;
        wchar_t name[] = L"Secure.Tag";
        LPWSTR ids[] = {name};
        OPCHANDLE client = 7;
        OPCHANDLE *handles = nullptr;
        HRESULT *errors = nullptr;
        EXPECT_EQ(server->GetItemHandles(1, ids, &client, &handles, &errors), S_OK);
        OPCHANDLE h = handles != nullptr ? handles[0] : 0;
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        return h;
    }

    HRESULT ReadOne(OPCHANDLE h)
    {
        OPCHDA_TIME start = TextTime(L"NOW-1H"), end = TextTime(L"NOW");
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        read->ReadRaw(&start, &end, 10, FALSE, 1, &h, &items, &errors);
        HRESULT r = errors != nullptr ? errors[0] : E_UNEXPECTED;
        FreeItems(items, 1);
        CoTaskMemFree(errors);
        return r;
    }

    HRESULT InsertOne(OPCHANDLE h)
    {
        FILETIME t = Ft(kBase);
        Variant v = Variant::R8(1.5);
        DWORD q = 0xC0;
        HRESULT *errors = nullptr;
        update->Insert(1, &h, &t, v.Ptr(), &q, &errors);
        HRESULT r = errors != nullptr ? errors[0] : E_UNEXPECTED;
        CoTaskMemFree(errors);
        return r;
    }

    TestHost host;
    HostInstalled *installed_ = nullptr;
    DWORD identityLevel = 3;
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    IOPCHDA_SyncUpdate *update = nullptr;
};

} // namespace

TEST_F(SecureClient, ReadOnlyUserReadsButCannotWrite)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x1), 0u);
    EnableHDASecurity(1, 0);
    OPCHANDLE h = Handle();
    ASSERT_NE(h, 0u);

    EXPECT_NE(ReadOne(h), OPC_E_BADRIGHTS);
    EXPECT_GT(host.CountOf(Method::GetTimeStamps), 0);

    EXPECT_EQ(InsertOne(h), OPC_E_BADRIGHTS);
    EXPECT_EQ(host.CountOf(Method::Insert), 0) << "a refused update never reaches the host";
}

TEST_F(SecureClient, WriteOnlyUserWritesUnderItsNameButCannotRead)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x2), 0u);
    EnableHDASecurity(1, 0);
    OPCHANDLE h = Handle();

    EXPECT_EQ(ReadOne(h), OPC_E_BADRIGHTS);
    EXPECT_EQ(host.CountOf(Method::GetTimeStamps), 0);

    EXPECT_EQ(InsertOne(h), S_OK);
    auto inserts = host.CallsOf(Method::Insert);
    ASSERT_EQ(inserts.size(), 1u);
    EXPECT_EQ(inserts[0].user, Me());
}

TEST_F(SecureClient, RightsAreFixedWhenTheHandleIsObtained)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EnableHDASecurity(1, 0);
    OPCHANDLE granted = Handle();
    // Later changes of the users or the switch leave the entry as it was.
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x0), 0u);
    EXPECT_NE(ReadOne(granted), OPC_E_BADRIGHTS);
    EXPECT_EQ(InsertOne(granted), S_OK);
    // A handle obtained now carries the new (empty) rights; the first one,
    // a registration of its own, keeps its rights.
    OPCHANDLE refused = Handle();
    EXPECT_NE(refused, granted);
    EXPECT_EQ(ReadOne(refused), OPC_E_BADRIGHTS);
    EXPECT_NE(ReadOne(granted), OPC_E_BADRIGHTS);
}

TEST_F(SecureClient, LevelBelowTheMinimumStillGetsHandlesButNoRights)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EnableHDASecurity(1, 3);
    identityLevel = 2;
    OPCHANDLE h = Handle();
    ASSERT_NE(h, 0u);
    EXPECT_EQ(ReadOne(h), OPC_E_BADRIGHTS);
    EXPECT_EQ(InsertOne(h), OPC_E_BADRIGHTS);
    EXPECT_EQ(host.Calls().size(), 0u);
}

TEST_F(SecureClient, SwitchedOffEveryoneReadsAndWritesAsUnknown)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x0), 0u);
    OPCHANDLE h = Handle();
    EXPECT_NE(ReadOne(h), OPC_E_BADRIGHTS);
    EXPECT_EQ(InsertOne(h), S_OK);
    auto inserts = host.CallsOf(Method::Insert);
    ASSERT_EQ(inserts.size(), 1u);
    EXPECT_EQ(inserts[0].user, "Unknown");
}
