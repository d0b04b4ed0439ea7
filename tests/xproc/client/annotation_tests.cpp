// IOPCHDA_SyncAnnotations, IOPCHDA_AsyncAnnotations and the annotation
// callbacks across processes: arrays of OPCHDA_ANNOTATION whose string arrays
// (szAnnotation, szUser) hold texts, empty texts and nulls, in both
// directions.
#include <vector>

#include "results.h"
#include "sinks.h"
#include "xproc_fixture.h"

namespace xclient {
namespace {

using namespace xproc;

// The [in] form of kAnnotations[index]; the arrays live as long as the object.
class AnnotationArgs
{
public:
    explicit AnnotationArgs(DWORD index)
    {
        const AnnotationSet &set = kAnnotations[index];
        for (DWORD i = 0; i < set.count; ++i) {
            times_.push_back(set.values[i].time);
            annotationTimes_.push_back(set.values[i].annotationTime);
            texts_.push_back(const_cast<LPWSTR>(set.values[i].text));
            users_.push_back(const_cast<LPWSTR>(set.values[i].user));
        }
        value.hClient = kClientHandles[index];
        value.dwNumValues = set.count;
        value.ftTimeStamps = times_.data();
        value.szAnnotation = texts_.data();
        value.ftAnnotationTime = annotationTimes_.data();
        value.szUser = users_.data();
    }
    AnnotationArgs(const AnnotationArgs &) = delete;
    AnnotationArgs &operator=(const AnnotationArgs &) = delete;

    void SetText(DWORD i, const wchar_t *text) { texts_[i] = const_cast<LPWSTR>(text); }
    void SetUser(DWORD i, const wchar_t *user) { users_[i] = const_cast<LPWSTR>(user); }

    OPCHDA_ANNOTATION value{};

private:
    std::vector<FILETIME> times_, annotationTimes_;
    std::vector<LPWSTR> texts_, users_;
};

// The annotations of both known items and an empty one for an unknown handle,
// with one change applied to item `altered` (none if it is out of range).
struct InsertRequest
{
    explicit InsertRequest(int altered = -1) : pump(0), tank(1)
    {
        if (altered == 0)
            pump.SetText(1, L"");  // null on the canned side: an empty text is not null
        if (altered == 1)
            tank.SetUser(1, L"shift C");
        values[0] = pump.value;
        values[1] = tank.value;
    }
    AnnotationArgs pump, tank;
    OPCHANDLE handles[3] = {kFirstHandle, kFirstHandle + 1, kUnknownHandle};
    FILETIME times[3] = {kAnnotationInsertTimes[0], kAnnotationInsertTimes[1], {}};
    OPCHDA_ANNOTATION values[3] = {};
};

void ExpectErrors(const HRESULT *errors, std::vector<HRESULT> want)
{
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(std::vector<HRESULT>(errors, errors + want.size()), want);
}

TEST_F(XprocServer, SyncAnnotationsReadReturnsTextsEmptyTextsAndNulls)
{
    ComRef<IOPCHDA_SyncAnnotations> annotations;
    Query(annotations);
    Time start(true, kStartTimeText);
    Time end(false, L"", kEndTime);
    OPCHANDLE handles[] = {kFirstHandle, kFirstHandle + 1, kUnknownHandle};
    OPCHDA_ANNOTATION *values = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(annotations->Read(&start.value, &end.value, 3, handles, &values, &errors), S_FALSE);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(Ticks(start.value.ftTime), Ticks(kResolvedStart));
    ExpectAnnotation(CopyAnnotation(values[0]), 0);
    ExpectAnnotation(CopyAnnotation(values[1]), 1);
    EXPECT_EQ(values[2].dwNumValues, 0u);
    EXPECT_EQ(values[2].szAnnotation, nullptr);
    EXPECT_EQ(values[2].szUser, nullptr);
    ExpectErrors(errors, {S_OK, S_OK, OPC_E_INVALIDHANDLE});
    FreeAnnotations(values, 3);
    CoTaskMemFree(errors);
}

TEST_F(XprocServer, SyncAnnotationsInsertDeliversEveryStringAsSent)
{
    ComRef<IOPCHDA_SyncAnnotations> annotations;
    Query(annotations);
    OPCHDA_ANNOTATIONCAPABILITIES caps{};
    ASSERT_EQ(annotations->QueryCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, OPCHDA_READANNOTATIONCAP | OPCHDA_INSERTANNOTATIONCAP);

    InsertRequest intact;
    HRESULT *errors = nullptr;
    ASSERT_EQ(annotations->Insert(3, intact.handles, intact.times, intact.values, &errors), S_FALSE);
    ExpectErrors(errors, {S_OK, S_OK, OPC_E_INVALIDHANDLE});
    CoTaskMemFree(errors);

    // The server does compare: an empty text where it expects null, and
    // another user, are told apart.
    for (int altered = 0; altered < 2; ++altered) {
        InsertRequest changed(altered);
        errors = nullptr;
        ASSERT_EQ(annotations->Insert(2, changed.handles, changed.times, changed.values, &errors), S_FALSE);
        ExpectErrors(errors, {altered == 0 ? kAnnotationMismatch : S_OK, altered == 1 ? kAnnotationMismatch : S_OK});
        CoTaskMemFree(errors);
    }
}

class XprocAsyncAnnotations : public XprocServer
{
protected:
    void SetUp() override
    {
        XprocServer::SetUp();
        Query(annotations_);
        sink_ = new DataSink();
        Advise(IID_IOPCHDA_DataCallback, static_cast<IOPCHDA_DataCallback *>(sink_), point_, cookie_);
    }
    void TearDown() override
    {
        if (point_) {
            EXPECT_EQ(point_->Unadvise(cookie_), S_OK);
        }
        point_.Reset();
        if (sink_)
            sink_->Release();
    }

    ComRef<IOPCHDA_AsyncAnnotations> annotations_;
    DataSink *sink_ = nullptr;
    ComRef<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

TEST_F(XprocAsyncAnnotations, InsertDeliversTheAnnotationsAndOnInsertAnnotationsReportsEachItem)
{
    InsertRequest request(1);  // item 1 arrives changed
    DWORD cancelId = 0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(annotations_->Insert(77, 3, request.handles, request.times, request.values, &cancelId, &errors),
              S_FALSE);
    EXPECT_EQ(cancelId, kAnnotationCancelId);
    ExpectErrors(errors, {S_OK, S_OK, OPC_E_INVALIDHANDLE});
    CoTaskMemFree(errors);

    DataSink::Record got = sink_->WaitForCall(&DataSink::Record::annotationInserts, kSinkTimeoutMs);
    ASSERT_EQ(got.annotationInserts.size(), 1u) << "OnInsertAnnotations did not arrive";
    EXPECT_EQ(got.unexpectedCalls, 0);
    const Callback &call = got.annotationInserts[0];
    EXPECT_EQ(call.transactionId, 77u);
    EXPECT_EQ(call.status, S_FALSE);
    EXPECT_EQ(call.clients, (std::vector<OPCHANDLE>{kClientHandles[0], kClientHandles[1], 0}));
    EXPECT_EQ(call.errors, (std::vector<HRESULT>{S_OK, kAnnotationMismatch, OPC_E_INVALIDHANDLE}));
}

TEST_F(XprocAsyncAnnotations, ReadResultsArriveThroughOnReadAnnotations)
{
    Time start(true, kStartTimeText);
    Time end(false, L"", kEndTime);
    OPCHANDLE handles[] = {kFirstHandle + 1, kUnknownHandle, kFirstHandle};
    DWORD cancelId = 0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(annotations_->Read(78, &start.value, &end.value, 3, handles, &cancelId, &errors), S_FALSE);
    EXPECT_EQ(Ticks(start.value.ftTime), Ticks(kResolvedStart));
    EXPECT_EQ(cancelId, kAnnotationCancelId);
    ExpectErrors(errors, {S_OK, OPC_E_INVALIDHANDLE, S_OK});
    CoTaskMemFree(errors);

    DataSink::Record got = sink_->WaitForCall(&DataSink::Record::annotationReads, kSinkTimeoutMs);
    ASSERT_EQ(got.annotationReads.size(), 1u) << "OnReadAnnotations did not arrive";
    EXPECT_EQ(got.unexpectedCalls, 0);
    const Callback &call = got.annotationReads[0];
    EXPECT_EQ(call.transactionId, 78u);
    EXPECT_EQ(call.status, S_OK);
    ASSERT_EQ(call.annotations.size(), 2u);
    ExpectAnnotation(call.annotations[0], 1);
    ExpectAnnotation(call.annotations[1], 0);
    EXPECT_EQ(call.errors, (std::vector<HRESULT>{S_OK, S_OK}));
}

}  // namespace
}  // namespace xclient
