// IOPCHDA_Server and IOPCHDA_Browser across processes: every string and array
// out-parameter shape of the two interfaces, with the exact canned values.
#include "results.h"
#include "xproc_fixture.h"

#include <oleauto.h>

#include <string>

namespace xclient {
namespace {

using namespace xproc;

void ExpectBranchPosition(IOPCHDA_Browser *browser)
{
    LPWSTR position = nullptr;
    ASSERT_EQ(browser->GetBranchPosition(&position), S_OK);
    ASSERT_NE(position, nullptr);
    EXPECT_STREQ(position, kBranchPosition);
    CoTaskMemFree(position);
}

TEST_F(XprocServer, GetItemAttributesReturnsParallelArraysWithNullDescription)
{
    DWORD count = 0;
    DWORD *ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    VARTYPE *types = nullptr;
    ASSERT_EQ(server_->GetItemAttributes(&count, &ids, &names, &descs, &types), S_OK);
    ASSERT_EQ(count, kAttributeCount);
    ASSERT_NE(ids, nullptr);
    ASSERT_NE(names, nullptr);
    ASSERT_NE(descs, nullptr);
    ASSERT_NE(types, nullptr);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(ids[i], kAttributes[i].id) << i;
        ASSERT_NE(names[i], nullptr) << i;
        EXPECT_STREQ(names[i], kAttributes[i].name) << i;
        if (kAttributes[i].description) {
            ASSERT_NE(descs[i], nullptr) << i;
            EXPECT_STREQ(descs[i], kAttributes[i].description) << i;
        } else {
            EXPECT_EQ(descs[i], nullptr) << i;  // a unique element stays null
        }
        EXPECT_EQ(types[i], kAttributes[i].type) << i;
    }
    CoTaskMemFree(ids);
    FreeStrings(names, count);
    FreeStrings(descs, count);
    CoTaskMemFree(types);
}

TEST_F(XprocServer, GetAggregatesReturnsIdsNamesAndDescriptions)
{
    DWORD count = 0;
    DWORD *ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    ASSERT_EQ(server_->GetAggregates(&count, &ids, &names, &descs), S_OK);
    ASSERT_EQ(count, kAggregateCount);
    ASSERT_TRUE(ids && names && descs);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(ids[i], kAggregates[i].id) << i;
        ASSERT_TRUE(names[i] && descs[i]) << i;
        EXPECT_STREQ(names[i], kAggregates[i].name) << i;
        EXPECT_STREQ(descs[i], kAggregates[i].description) << i;  // the last one is ""
    }
    CoTaskMemFree(ids);
    FreeStrings(names, count);
    FreeStrings(descs, count);
}

TEST_F(XprocServer, GetHistorianStatusReturnsEveryFieldAndANullStartTime)
{
    HistorianStatus got(server_);
    ASSERT_EQ(got.hr, S_OK);
    EXPECT_EQ(got.status, OPCHDA_UP);
    ASSERT_NE(got.now, nullptr);
    EXPECT_EQ(Ticks(*got.now), Ticks(kCurrentTime));
    EXPECT_EQ(got.start, nullptr);
    EXPECT_EQ(got.major, kMajorVersion);
    EXPECT_EQ(got.minor, kMinorVersion);
    EXPECT_EQ(got.build, kBuildNumber);
    EXPECT_EQ(got.maxValues, kMaxReturnValues);
    ASSERT_NE(got.text, nullptr);
    EXPECT_STREQ(got.text, kStatusString);
    ASSERT_NE(got.vendor, nullptr);
    EXPECT_STREQ(got.vendor, kVendorInfo);
}

TEST_F(XprocServer, GetItemHandlesSendsIdsIncludingNullAndReturnsHandlesAndErrors)
{
    LPWSTR ids[] = {const_cast<LPWSTR>(kKnownItems[0]), const_cast<LPWSTR>(L"Plant.Nothing"), nullptr,
                    const_cast<LPWSTR>(kKnownItems[1])};
    OPCHANDLE clients[] = {kClientHandles[0], 99, 98, kClientHandles[1]};
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(server_->GetItemHandles(4, ids, clients, &handles, &errors), S_FALSE);
    ASSERT_TRUE(handles && errors);
    const OPCHANDLE wantHandles[] = {kFirstHandle, 0, 0, kFirstHandle + 1};
    const HRESULT wantErrors[] = {S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, S_OK};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(handles[i], wantHandles[i]) << i;
        EXPECT_EQ(errors[i], wantErrors[i]) << i;
    }
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
}

TEST_F(XprocServer, ValidateItemIdsReturnsOneErrorPerId)
{
    LPWSTR ids[] = {const_cast<LPWSTR>(kKnownItems[1]), const_cast<LPWSTR>(L""), const_cast<LPWSTR>(L"plant.pump1")};
    HRESULT *errors = nullptr;
    ASSERT_EQ(server_->ValidateItemIDs(3, ids, &errors), S_FALSE);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDITEMID);
    EXPECT_EQ(errors[2], OPC_E_UNKNOWNITEMID);
    CoTaskMemFree(errors);

    LPWSTR known[] = {const_cast<LPWSTR>(kKnownItems[0]), const_cast<LPWSTR>(kKnownItems[1])};
    ASSERT_EQ(server_->ValidateItemIDs(2, known, &errors), S_OK);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    CoTaskMemFree(errors);
}

TEST_F(XprocServer, ReleaseItemHandlesReturnsOneErrorPerHandle)
{
    OPCHANDLE handles[] = {kFirstHandle + 1, 0x2222, kFirstHandle};
    HRESULT *errors = nullptr;
    ASSERT_EQ(server_->ReleaseItemHandles(3, handles, &errors), S_FALSE);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(errors[2], S_OK);
    CoTaskMemFree(errors);
}

TEST_F(XprocServer, CreateBrowseSendsFiltersIntactAndReturnsABrowser)
{
    DWORD attrIds[] = {kFilterAttrIds[0], kFilterAttrIds[1], OPCHDA_DATA_TYPE};
    OPCHDA_OPERATORCODES operators[] = {kFilterOperators[0], kFilterOperators[1], OPCHDA_GREATEREQUAL};
    VARIANT filters[3];
    for (VARIANT &v : filters)
        VariantInit(&v);
    V_VT(&filters[0]) = VT_I2;
    V_I2(&filters[0]) = kFilterDataType;
    V_VT(&filters[1]) = VT_BSTR;
    V_BSTR(&filters[1]) = SysAllocString(kFilterDescription);
    V_VT(&filters[2]) = VT_I2;
    V_I2(&filters[2]) = VT_BSTR;  // not the data type the server expects

    ComRef<IOPCHDA_Browser> browser;
    HRESULT *errors = nullptr;
    EXPECT_EQ(server_->CreateBrowse(3, attrIds, operators, filters, browser.Put(), &errors), S_FALSE);
    for (VARIANT &v : filters)
        VariantClear(&v);
    ASSERT_NE(errors, nullptr);
    // Attribute IDs, 16-bit operator codes and filter values arrived as sent.
    EXPECT_EQ(errors[0], FilterEcho(kFilterAttrIds[0], kFilterOperators[0]));
    EXPECT_EQ(errors[1], FilterEcho(kFilterAttrIds[1], kFilterOperators[1]));
    EXPECT_EQ(errors[2], E_INVALIDARG);
    CoTaskMemFree(errors);

    ASSERT_TRUE(browser);
    ExpectBranchPosition(browser.Get());
}

TEST_F(XprocServer, NullInputArrayIsRefusedByTheProxyEvenForZeroElements)
{
    ComRef<IOPCHDA_Browser> browser;
    HRESULT *errors = nullptr;
    EXPECT_EQ(server_->CreateBrowse(0, nullptr, nullptr, nullptr, browser.Put(), &errors),
              HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER));
    EXPECT_FALSE(browser);
    EXPECT_EQ(errors, nullptr);
}

class XprocBrowser : public XprocServer
{
protected:
    void SetUp() override
    {
        XprocServer::SetUp();
        // No filters; the arrays are [ref] pointers all the same and may not be null.
        DWORD ids[1] = {};
        OPCHDA_OPERATORCODES operators[1] = {};
        VARIANT filters[1] = {};
        HRESULT *errors = nullptr;
        ASSERT_EQ(server_->CreateBrowse(0, ids, operators, filters, browser_.Put(), &errors), S_OK);
        CoTaskMemFree(errors);
        ASSERT_TRUE(browser_);
    }

    ComRef<IOPCHDA_Browser> browser_;
};

TEST_F(XprocBrowser, GetItemIdReturnsTheFullIdOfANode)
{
    LPWSTR id = nullptr;
    ASSERT_EQ(browser_->GetItemID(L"Pump1", &id), S_OK);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(std::wstring(id), std::wstring(kItemIdPrefix) + L"Pump1");
    CoTaskMemFree(id);

    ASSERT_EQ(browser_->GetItemID(L"", &id), S_OK);  // the empty string is not null on the wire
    ASSERT_NE(id, nullptr);
    EXPECT_STREQ(id, kItemIdPrefix);
    CoTaskMemFree(id);
}

TEST_F(XprocBrowser, GetBranchPositionReturnsTheText)
{
    ExpectBranchPosition(browser_.Get());
}

TEST_F(XprocBrowser, EnumStringHandsOutEveryStringAcrossSeveralNextCalls)
{
    ComRef<IEnumString> strings;
    ASSERT_EQ(browser_->GetEnum(OPCHDA_FLAT, strings.Put()), S_OK);
    ASSERT_TRUE(strings);

    LPOLESTR got[8] = {};
    ULONG fetched = 0;
    ASSERT_EQ(strings->Next(2, got, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    ASSERT_EQ(strings->Next(8, got + 2, &fetched), S_FALSE);  // fewer left than asked for
    ASSERT_EQ(fetched, kEnumCount - 2);
    for (ULONG i = 0; i < kEnumCount; ++i) {
        ASSERT_NE(got[i], nullptr) << i;
        EXPECT_STREQ(got[i], kEnumStrings[i]) << i;
        CoTaskMemFree(got[i]);
        got[i] = nullptr;
    }
    EXPECT_EQ(strings->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    ASSERT_EQ(strings->Reset(), S_OK);
    ASSERT_EQ(strings->Next(1, got, nullptr), S_OK);  // one element needs no count
    ASSERT_NE(got[0], nullptr);
    EXPECT_STREQ(got[0], kEnumStrings[0]);
    CoTaskMemFree(got[0]);
}

TEST_F(XprocBrowser, GetEnumFailureReturnsNoEnumerator)
{
    ComRef<IEnumString> strings;
    EXPECT_EQ(browser_->GetEnum(OPCHDA_BRANCH, strings.Put()), E_INVALIDARG);
    EXPECT_FALSE(strings);
}

}  // namespace
}  // namespace xclient
