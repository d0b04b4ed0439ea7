// IOPCHDA_SyncRead across processes: the in/out OPCHDA_TIME (a string inside a
// struct, resolved time written back) and arrays of OPCHDA_ITEM and
// OPCHDA_ATTRIBUTE with VARIANTs of VT_R8 and VT_BSTR.
#include <cwchar>

#include "results.h"
#include "xproc_fixture.h"

namespace xclient {
namespace {

using namespace xproc;

class XprocSyncRead : public XprocServer
{
protected:
    void SetUp() override
    {
        XprocServer::SetUp();
        Query(read_);
    }
    ComRef<IOPCHDA_SyncRead> read_;
};

TEST_F(XprocSyncRead, ReadRawReturnsItemsWithDoublesAndTextsAndTheResolvedStartTime)
{
    Time start(true, kStartTimeText);
    Time end(false, L"", kEndTime);
    OPCHANDLE handles[] = {kFirstHandle, kFirstHandle + 1, kUnknownHandle};
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(read_->ReadRaw(&start.value, &end.value, 0, TRUE, 3, handles, &items, &errors), S_FALSE);
    ASSERT_NE(items, nullptr);
    ASSERT_NE(errors, nullptr);

    // The in/out times: the server's resolution came back, the texts stayed.
    EXPECT_EQ(Ticks(start.value.ftTime), Ticks(kResolvedStart));
    EXPECT_TRUE(start.value.bString);
    ASSERT_NE(start.value.szTime, nullptr);
    EXPECT_STREQ(start.value.szTime, kStartTimeText);
    EXPECT_EQ(Ticks(end.value.ftTime), Ticks(kEndTime));
    EXPECT_FALSE(end.value.bString);
    ASSERT_NE(end.value.szTime, nullptr);
    EXPECT_STREQ(end.value.szTime, L"");

    ExpectDoubleItem(CopyItem(items[0]));
    ExpectTextItem(CopyItem(items[1]));
    // The unknown handle: an empty item with null arrays.
    EXPECT_EQ(items[2].dwCount, 0u);
    EXPECT_EQ(items[2].pftTimeStamps, nullptr);
    EXPECT_EQ(items[2].pdwQualities, nullptr);
    EXPECT_EQ(items[2].pvDataValues, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
    FreeItems(items, 3);
    CoTaskMemFree(errors);
}

TEST_F(XprocSyncRead, ReadRawFailureReturnsNullArraysAndKeepsTheTimes)
{
    Time start(true, L"NOW-2H");  // the server resolves only kStartTimeText
    Time end(false, L"", kEndTime);
    OPCHANDLE handles[] = {kFirstHandle};
    OPCHDA_ITEM *items = reinterpret_cast<OPCHDA_ITEM *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(read_->ReadRaw(&start.value, &end.value, 0, TRUE, 1, handles, &items, &errors), E_INVALIDARG);
    EXPECT_EQ(items, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(Ticks(start.value.ftTime), 0u);
    EXPECT_STREQ(start.value.szTime, L"NOW-2H");
}

TEST_F(XprocSyncRead, ReadModifiedReturnsEditTypesUsersAndModificationTimes)
{
    Time start(true, kStartTimeText);
    Time end(false, L"", kEndTime);
    OPCHANDLE handles[] = {kFirstHandle, kFirstHandle + 1, kUnknownHandle};
    OPCHDA_MODIFIEDITEM *items = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(read_->ReadModified(&start.value, &end.value, 0, 3, handles, &items, &errors), S_FALSE);
    ASSERT_NE(items, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(Ticks(start.value.ftTime), Ticks(kResolvedStart));

    const OPCHDA_MODIFIEDITEM &doubles = items[0];
    EXPECT_EQ(doubles.hClient, kClientHandles[0]);
    ASSERT_EQ(doubles.dwCount, 2u);
    ASSERT_TRUE(doubles.pftTimeStamps && doubles.pdwQualities && doubles.pvDataValues &&
                doubles.pftModificationTime && doubles.pEditType && doubles.szUser);
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_EQ(Ticks(doubles.pftTimeStamps[i]), Ticks(kRawTimes[i])) << i;
        EXPECT_EQ(doubles.pdwQualities[i], kRawDoubleQualities[i]) << i;
        OwnedValue value = CopyValue(doubles.pvDataValues[i]);
        EXPECT_EQ(value.vt, VT_R8) << i;
        EXPECT_EQ(value.r8, kRawDoubles[i]) << i;
        EXPECT_EQ(Ticks(doubles.pftModificationTime[i]), Ticks(kModificationTimes[i])) << i;
        EXPECT_EQ(doubles.pEditType[i], kEditTypes[i]) << i;  // 16 bits on the wire, 4 in memory
    }
    ASSERT_NE(doubles.szUser[0], nullptr);
    EXPECT_STREQ(doubles.szUser[0], kEditUsers[0]);
    EXPECT_EQ(doubles.szUser[1], nullptr);

    const OPCHDA_MODIFIEDITEM &text = items[1];
    EXPECT_EQ(text.hClient, kClientHandles[1]);
    ASSERT_EQ(text.dwCount, 1u);
    ASSERT_TRUE(text.pvDataValues && text.pEditType);
    EXPECT_EQ(CopyValue(text.pvDataValues[0]).text, kRawTexts[0]);
    EXPECT_EQ(text.pEditType[0], kDeletedEditType);
    EXPECT_EQ(text.pftModificationTime, nullptr);  // optional, not supplied
    EXPECT_EQ(text.szUser, nullptr);

    EXPECT_EQ(items[2].dwCount, 0u);
    EXPECT_EQ(items[2].pEditType, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
    FreeModifiedItems(items, 3);
    CoTaskMemFree(errors);
}

TEST_F(XprocSyncRead, ReadAttributeReturnsAttributeValuesWithTimeStamps)
{
    Time start(true, kStartTimeText);
    Time end(false, L"", kEndTime);
    DWORD ids[] = {OPCHDA_DESCRIPTION, OPCHDA_NORMAL_MAXIMUM, kUnknownAttribute};
    OPCHDA_ATTRIBUTE *values = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(read_->ReadAttribute(&start.value, &end.value, kFirstHandle, 3, ids, &values, &errors), S_FALSE);
    ASSERT_NE(values, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(Ticks(start.value.ftTime), Ticks(kResolvedStart));

    ExpectDescriptionAttribute(CopyAttribute(values[0]));
    ExpectMaximumAttribute(CopyAttribute(values[1]));
    EXPECT_EQ(values[2].hClient, kClientHandles[0]);
    EXPECT_EQ(values[2].dwAttributeID, kUnknownAttribute);
    EXPECT_EQ(values[2].dwNumValues, 0u);
    EXPECT_EQ(values[2].ftTimeStamps, nullptr);
    EXPECT_EQ(values[2].vAttributeValues, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    EXPECT_EQ(errors[2], OPC_E_INVALIDATTRID);
    FreeAttributes(values, 3);
    CoTaskMemFree(errors);
}

}  // namespace
}  // namespace xclient
