// The same round trips with widl's proxy code as generated, without the
// build's correction, in both processes: string out-parameters do not arrive
// while every other shape does. This is what the correction changes.
//
// Not called here: the string-array out-parameters (GetItemAttributes,
// GetAggregates). Uncorrected, they come back as arrays of stray pointers
// into the receive buffer, and freeing them crashes the client.
#include <cwchar>

#include "results.h"
#include "unfixed_proxy.h"
#include "xproc_fixture.h"

namespace xclient {
namespace {

using namespace xproc;

class Uncorrected : public XprocServer
{
protected:
    void SetUp() override
    {
        XprocServer::SetUp();
        int misdirected = UnfixedMisdirectedParams();
        ASSERT_GE(misdirected, 0) << "the uncorrected proxy code could not be read";
        if (misdirected == 0)
            GTEST_SKIP() << "this widl writes correct type offsets; there is nothing to show";
    }
};

TEST_F(Uncorrected, StringOutParameterArrivesNull)
{
    ComRef<IOPCCommon> common;
    Query(common);
    LPWSTR text = nullptr;
    EXPECT_EQ(common->GetErrorString(kKnownError, &text), S_OK);
    EXPECT_EQ(text, nullptr) << "the text arrived although the type offset is uncorrected";

    ComRef<IOPCHDA_Browser> browser;
    DWORD ids[1] = {};
    OPCHDA_OPERATORCODES operators[1] = {};
    VARIANT filters[1] = {};
    HRESULT *errors = nullptr;
    ASSERT_EQ(server_->CreateBrowse(0, ids, operators, filters, browser.Put(), &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_TRUE(browser);
    LPWSTR id = nullptr;
    EXPECT_EQ(browser->GetItemID(L"Pump1", &id), S_OK);
    EXPECT_EQ(id, nullptr);
    LPWSTR position = nullptr;
    EXPECT_EQ(browser->GetBranchPosition(&position), S_OK);
    EXPECT_EQ(position, nullptr);
}

TEST_F(Uncorrected, HistorianStatusLosesOnlyItsStrings)
{
    HistorianStatus got(server_);
    ASSERT_EQ(got.hr, S_OK);
    EXPECT_EQ(got.status, OPCHDA_UP);
    ASSERT_NE(got.now, nullptr);
    EXPECT_EQ(Ticks(*got.now), Ticks(kCurrentTime));
    EXPECT_EQ(got.major, kMajorVersion);
    EXPECT_EQ(got.build, kBuildNumber);
    EXPECT_EQ(got.maxValues, kMaxReturnValues);
    EXPECT_EQ(got.text, nullptr);
    EXPECT_EQ(got.vendor, nullptr);
}

TEST_F(Uncorrected, ShapesWithoutStringOutParametersStillRoundTrip)
{
    LPWSTR ids[] = {const_cast<LPWSTR>(kKnownItems[0]), const_cast<LPWSTR>(kKnownItems[1])};
    OPCHANDLE clients[] = {kClientHandles[0], kClientHandles[1]};
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(server_->GetItemHandles(2, ids, clients, &handles, &errors), S_OK);
    ASSERT_TRUE(handles && errors);
    EXPECT_EQ(handles[0], kFirstHandle);
    EXPECT_EQ(handles[1], kFirstHandle + 1);
    CoTaskMemFree(errors);

    ComRef<IOPCHDA_SyncRead> read;
    Query(read);
    OPCHDA_TIME start{TRUE, static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(kStartTimeText))), {}};
    memcpy(start.szTime, kStartTimeText, sizeof(kStartTimeText));
    OPCHDA_TIME end{FALSE, static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(wchar_t))), kEndTime};
    end.szTime[0] = 0;
    OPCHDA_ITEM *items = nullptr;
    ASSERT_EQ(read->ReadRaw(&start, &end, 0, TRUE, 2, handles, &items, &errors), S_OK);
    EXPECT_EQ(Ticks(start.ftTime), Ticks(kResolvedStart));
    ASSERT_TRUE(items && errors);
    ExpectDoubleItem(CopyItem(items[0]));
    ExpectTextItem(CopyItem(items[1]));
    FreeItems(items, 2);
    CoTaskMemFree(errors);
    CoTaskMemFree(handles);
    CoTaskMemFree(start.szTime);
    CoTaskMemFree(end.szTime);
}

}  // namespace
}  // namespace xclient
