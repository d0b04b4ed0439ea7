// IOPCCommon across processes, and calls from a server thread into the
// client's sinks advised through the server's connection points.
#include <olectl.h>

#include "sinks.h"
#include "xproc_fixture.h"

namespace xclient {
namespace {

using namespace xproc;

class XprocCommon : public XprocServer
{
protected:
    void SetUp() override
    {
        XprocServer::SetUp();
        Query(common_);
    }

    ComRef<IOPCCommon> common_;
};

TEST_F(XprocCommon, GetErrorStringReturnsTheTextOrNullOnFailure)
{
    LPWSTR text = nullptr;
    ASSERT_EQ(common_->GetErrorString(kKnownError, &text), S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, kKnownErrorText);
    CoTaskMemFree(text);

    text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(common_->GetErrorString(E_FAIL, &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
}

TEST_F(XprocCommon, QueryAvailableLocaleIdsReturnsTheCountedArray)
{
    DWORD count = 0;
    LCID *ids = nullptr;
    ASSERT_EQ(common_->QueryAvailableLocaleIDs(&count, &ids), S_OK);
    ASSERT_EQ(count, kLocaleCount);
    ASSERT_NE(ids, nullptr);
    for (DWORD i = 0; i < count; ++i)
        EXPECT_EQ(ids[i], kLocales[i]) << i;
    CoTaskMemFree(ids);
}

TEST_F(XprocCommon, LocaleIdRoundTrips)
{
    ASSERT_EQ(common_->SetLocaleID(kLocales[1]), S_OK);
    LCID id = 0;
    ASSERT_EQ(common_->GetLocaleID(&id), S_OK);
    EXPECT_EQ(id, kLocales[1]);
    EXPECT_EQ(common_->SetLocaleID(0x1234), E_INVALIDARG);
    ASSERT_EQ(common_->GetLocaleID(&id), S_OK);
    EXPECT_EQ(id, kLocales[1]);
}

TEST_F(XprocCommon, ShutdownRequestReachesTheAdvisedSinkUntilUnadvise)
{
    auto *sink = new ShutdownSink();
    ComRef<IConnectionPoint> point;
    DWORD cookie = 0;
    Advise(IID_IOPCShutdown, static_cast<IOPCShutdown *>(sink), point, cookie);
    if (!HasFatalFailure()) {
        ASSERT_EQ(common_->SetClientName(kFireShutdown), S_OK);
        std::vector<std::wstring> reasons = sink->WaitForRequests(1, kSinkTimeoutMs);
        ASSERT_EQ(reasons.size(), 1u) << "no ShutdownRequest arrived";
        EXPECT_EQ(reasons[0], kShutdownReason);

        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        EXPECT_EQ(common_->SetClientName(kFireShutdown), CONNECT_E_NOCONNECTION);
    }
    sink->Release();
}

TEST_F(XprocCommon, DataCallbacksDeliverNonEmptyArraysFromAServerThread)
{
    auto *sink = new DataSink();
    ComRef<IConnectionPoint> point;
    DWORD cookie = 0;
    Advise(IID_IOPCHDA_DataCallback, static_cast<IOPCHDA_DataCallback *>(sink), point, cookie);
    if (HasFatalFailure()) {
        sink->Release();
        return;
    }
    ASSERT_EQ(common_->SetClientName(kFireDataCallback), S_OK);
    DataSink::Record got = sink->WaitForDataChange(kSinkTimeoutMs);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    sink->Release();

    ASSERT_EQ(got.dataChanges.size(), 1u) << "OnDataChange did not arrive";
    EXPECT_EQ(got.unexpectedCalls, 0);

    ASSERT_EQ(got.readCompletes.size(), 1u);
    const Callback &read = got.readCompletes[0];
    EXPECT_EQ(read.transactionId, kReadCompleteTid);
    EXPECT_EQ(read.status, S_OK);
    ASSERT_EQ(read.items.size(), 2u);
    ExpectDoubleItem(read.items[0]);
    ExpectTextItem(read.items[1]);
    EXPECT_EQ(read.errors, (std::vector<HRESULT>{S_OK, S_OK}));

    ASSERT_EQ(got.updateCompletes.size(), 1u);
    const Callback &update = got.updateCompletes[0];
    EXPECT_EQ(update.transactionId, kUpdateCompleteTid);
    EXPECT_EQ(update.status, S_FALSE);
    EXPECT_EQ(update.clients, (std::vector<OPCHANDLE>{kClientHandles[0], kClientHandles[1]}));
    EXPECT_EQ(update.errors, (std::vector<HRESULT>{kUpdateErrors[0], kUpdateErrors[1]}));

    ASSERT_EQ(got.attributeCompletes.size(), 1u);
    const Callback &attributes = got.attributeCompletes[0];
    EXPECT_EQ(attributes.transactionId, kAttributeCompleteTid);
    EXPECT_EQ(attributes.status, S_OK);
    EXPECT_EQ(attributes.hClient, kClientHandles[0]);
    ASSERT_EQ(attributes.attributes.size(), 2u);
    ExpectDescriptionAttribute(attributes.attributes[0]);
    ExpectMaximumAttribute(attributes.attributes[1]);
    EXPECT_EQ(attributes.errors, (std::vector<HRESULT>{S_OK, S_OK}));

    const Callback &change = got.dataChanges[0];
    EXPECT_EQ(change.transactionId, kDataChangeTid);
    EXPECT_EQ(change.status, S_OK);
    ASSERT_EQ(change.items.size(), 1u);
    ExpectDoubleItem(change.items[0]);
    EXPECT_EQ(change.errors, (std::vector<HRESULT>{S_OK}));
}

TEST_F(XprocCommon, SecondAdviseOnAConnectionPointIsRefused)
{
    auto *first = new ShutdownSink();
    auto *second = new ShutdownSink();
    ComRef<IConnectionPoint> point;
    DWORD cookie = 0;
    Advise(IID_IOPCShutdown, static_cast<IOPCShutdown *>(first), point, cookie);
    if (!HasFatalFailure()) {
        DWORD other = 0;
        EXPECT_EQ(point->Advise(static_cast<IOPCShutdown *>(second), &other), CONNECT_E_ADVISELIMIT);
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    }
    first->Release();
    second->Release();
}

}  // namespace
}  // namespace xclient
