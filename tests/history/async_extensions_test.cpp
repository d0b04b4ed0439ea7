// The opt-in history extensions through the in-process server, over plain
// host callbacks:
// - IOPCHDA_SyncAnnotations and IOPCHDA_AsyncAnnotations: offered only while
//   a callback is installed, per-item rights and user names as for updates,
//   texts through the ANSI code page both ways, the host's value limit, the
//   asynchronous deliveries;
// - ReadModified (synchronous and asynchronous): E_NOTIMPL without the
//   callback, the host's values with edit types and users, the limits and
//   more-data rule of raw reads;
// and no task memory left behind.
#include "async_fixture.h"

#include <functional>
#include <mutex>

#include "malloc_spy.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

// The host's annotation store, shared by the plain callbacks.
struct Stored
{
    void *item;
    uint64_t time;
    std::string text;
    uint64_t annotationTime;
    std::string user;
};
std::mutex g_storeLock;
std::vector<Stored> g_store;

void __stdcall ReadAnnotationsCb(void *item, FILETIME start, FILETIME end, void *list,
                                 ZQHDA_AddAnnotationProc add, long *result)
{
    uint64_t from = Ticks(start), to = Ticks(end);
    if (from > to)
        std::swap(from, to);
    std::vector<Stored> found;
    {
        std::lock_guard<std::mutex> lock(g_storeLock);
        for (const Stored &s : g_store) {
            if (s.item == item && s.time >= from && s.time <= to)
                found.push_back(s);
        }
    }
    for (const Stored &s : found)
        add(list, Ft(s.time), s.text.c_str(), Ft(s.annotationTime), s.user.c_str());
    *result = 0;
}

void __stdcall InsertAnnotationCb(char *user, void *item, FILETIME time, char *text,
                                  FILETIME annotationTime, long *result)
{
    if (std::string(text) == "refused") {
        *result = E_FAIL;
        return;
    }
    std::lock_guard<std::mutex> lock(g_storeLock);
    g_store.push_back(Stored{item, Ticks(time), text, Ticks(annotationTime), user});
    *result = 0;
}


// The text value of the journal, made when the program starts, so that the
// host itself takes no task memory while a test counts or refuses the
// library's allocations.
const Variant g_gone = Variant::Str(L"gone");

// The host's journal of replaced and deleted values: item 1 has three, the
// last one deleted; item 3 reports an edit type no client can receive.
void __stdcall ReadModifiedCb(void *item, FILETIME *start, FILETIME *end, int maxValues,
                              void *list, ZQHDA_AddModifiedValueProc add, long *result)
{
    const uint64_t from = start != nullptr ? Ticks(*start) : 0;
    const uint64_t to = end != nullptr ? Ticks(*end) : UINT64_MAX;
    int added = 0;
    for (int k = 1; k <= 3; ++k) {
        if (item != zqtest::ItemOfServerHandle(1) && item != zqtest::ItemOfServerHandle(3))
            break;
        if (Sec(k) < from || Sec(k) > to)
            continue;
        if (maxValues != 0 && added > maxValues)
            break; // one more than asked tells of more
        Variant v = k == 3 ? Variant() : Variant::R8(k);
        VARIANT *value = k == 3 ? const_cast<VARIANT *>(&g_gone.Get()) : v.Ptr();
        int edit = k == 3 ? static_cast<int>(OPCHDA_DELETE) : static_cast<int>(OPCHDA_REPLACE);
        if (item == zqtest::ItemOfServerHandle(3))
            edit = 9;
        add(list, Ft(Sec(k)), value, 0xC0 + k, Ft(Sec(100 + k)), edit, k == 3 ? "bob" : "alice");
        ++added;
    }
    *result = 0;
}

struct AnnotationCall
{
    bool insert = false;
    DWORD transactionId = 0;
    HRESULT status = E_UNEXPECTED;
    std::vector<OPCHANDLE> clients;
    std::vector<HRESULT> codes;
    std::vector<std::vector<std::wstring>> texts; // per item (reads)
    std::vector<std::vector<int>> edits;          // per item (modified reads)
};

// A data callback that keeps what the annotation callbacks deliver.
class AnnotationSink final : public IOPCHDA_DataCallback
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCHDA_DataCallback)) {
            *out = static_cast<IOPCHDA_DataCallback *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, HRESULT, DWORD, OPCHDA_ITEM *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, HRESULT, DWORD, OPCHDA_ITEM *,
                                             HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadModifiedComplete(DWORD tid, HRESULT status, DWORD n,
                                                     OPCHDA_MODIFIEDITEM *items,
                                                     HRESULT *errors) override
    {
        AnnotationCall c;
        c.transactionId = tid;
        c.status = status;
        for (DWORD i = 0; i < n; ++i) {
            c.clients.push_back(items[i].hClient);
            c.codes.push_back(errors[i]);
            c.edits.emplace_back(items[i].pEditType, items[i].pEditType + items[i].dwCount);
        }
        std::lock_guard<std::mutex> lock(lock_);
        calls.push_back(c);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadAttributeComplete(DWORD, HRESULT, OPCHANDLE, DWORD,
                                                      OPCHDA_ATTRIBUTE *, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadAnnotations(DWORD tid, HRESULT status, DWORD n,
                                                OPCHDA_ANNOTATION *values,
                                                HRESULT *errors) override
    {
        AnnotationCall c;
        c.transactionId = tid;
        c.status = status;
        for (DWORD i = 0; i < n; ++i) {
            c.clients.push_back(values[i].hClient);
            c.codes.push_back(errors[i]);
            std::vector<std::wstring> texts;
            for (DWORD j = 0; j < values[i].dwNumValues; ++j)
                texts.emplace_back(values[i].szAnnotation[j]);
            c.texts.push_back(texts);
        }
        std::lock_guard<std::mutex> lock(lock_);
        calls.push_back(c);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInsertAnnotations(DWORD tid, HRESULT status, DWORD n,
                                                  OPCHANDLE *clients, HRESULT *errors) override
    {
        AnnotationCall c;
        c.insert = true;
        c.transactionId = tid;
        c.status = status;
        c.clients.assign(clients, clients + n);
        c.codes.assign(errors, errors + n);
        std::lock_guard<std::mutex> lock(lock_);
        calls.push_back(c);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD, HRESULT, DWORD, OPCHANDLE *,
                                               HRESULT *) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD) override { return S_OK; }

    std::vector<AnnotationCall> Calls()
    {
        std::lock_guard<std::mutex> lock(lock_);
        return calls;
    }

private:
    std::mutex lock_;
    std::vector<AnnotationCall> calls;
};

void FreeAnnotations(OPCHDA_ANNOTATION *values, DWORD n)
{
    for (DWORD i = 0; i < n; ++i) {
        for (DWORD j = 0; j < values[i].dwNumValues; ++j) {
            CoTaskMemFree(values[i].szAnnotation[j]);
            CoTaskMemFree(values[i].szUser[j]);
        }
        CoTaskMemFree(values[i].ftTimeStamps);
        CoTaskMemFree(values[i].szAnnotation);
        CoTaskMemFree(values[i].ftAnnotationTime);
        CoTaskMemFree(values[i].szUser);
    }
    CoTaskMemFree(values);
}

class Annotations : public AsyncTest
{
protected:
    void TearDown() override
    {
        EnableReadAnnotationsCallback(nullptr);
        EnableInsertAnnotationCallback(nullptr);
        EnableReadModifiedCallback(nullptr);
        SetHDAReadLimits(0, 0);
        {
            std::lock_guard<std::mutex> lock(g_storeLock);
            g_store.clear();
        }
        AsyncTest::TearDown();
    }

    template <typename I> HRESULT Ask(REFIID iid, I **out)
    {
        *out = reinterpret_cast<I *>(1);
        return unknown->QueryInterface(iid, reinterpret_cast<void **>(out));
    }
};

TEST_F(Annotations, AreOfferedOnlyWhileTheHostHasACallback)
{
    IOPCHDA_SyncAnnotations *sync = nullptr;
    IOPCHDA_AsyncAnnotations *async = nullptr;
    EXPECT_EQ(Ask(IID_IOPCHDA_SyncAnnotations, &sync), E_NOINTERFACE);
    EXPECT_EQ(sync, nullptr);
    EXPECT_EQ(Ask(IID_IOPCHDA_AsyncAnnotations, &async), E_NOINTERFACE);
    EXPECT_EQ(async, nullptr);

    EnableInsertAnnotationCallback(InsertAnnotationCb);
    ASSERT_EQ(Ask(IID_IOPCHDA_SyncAnnotations, &sync), S_OK);
    OPCHDA_ANNOTATIONCAPABILITIES caps = static_cast<OPCHDA_ANNOTATIONCAPABILITIES>(0xFF);
    EXPECT_EQ(sync->QueryCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, OPCHDA_INSERTANNOTATIONCAP);
    EXPECT_EQ(sync->QueryCapabilities(nullptr), E_INVALIDARG);
    // Without a read callback a read is not offered, and leaves nothing.
    AddItem(1, 10);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    OPCHANDLE h = 1;
    OPCHDA_ANNOTATION *values = reinterpret_cast<OPCHDA_ANNOTATION *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(sync->Read(&s, &e, 1, &h, &values, &errors), S_FALSE);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], E_NOTIMPL);
    FreeAnnotations(values, 1);
    CoTaskMemFree(errors);
    sync->Release();

    EnableInsertAnnotationCallback(nullptr);
    EXPECT_EQ(Ask(IID_IOPCHDA_SyncAnnotations, &sync), E_NOINTERFACE);
    EXPECT_EQ(sync, nullptr);
}

TEST_F(Annotations, InsertAndReadCarryTextsUsersRightsAndLimits)
{
    EnableReadAnnotationsCallback(ReadAnnotationsCb);
    EnableInsertAnnotationCallback(InsertAnnotationCb);
    AddItem(1, 10, TRUE, TRUE, "alice");
    AddItem(2, 20, TRUE, FALSE, "bob"); // may not write
    IOPCHDA_SyncAnnotations *sync = nullptr;
    ASSERT_EQ(Ask(IID_IOPCHDA_SyncAnnotations, &sync), S_OK);
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    const long outstanding = spy->Outstanding();

    // Argument faults leave the out pointer null.
    OPCHANDLE handles[3] = {1, 2, 99};
    FILETIME times[3] = {Ft(Sec(2)), Ft(Sec(2)), Ft(Sec(2))};
    wchar_t first[] = L"caf\x00E9 restarted", second[] = L"second", refused[] = L"refused";
    LPWSTR texts[2] = {first, second};
    LPWSTR bad[1] = {refused};
    OPCHDA_ANNOTATION in[3] = {};
    in[0].dwNumValues = 2;
    in[0].szAnnotation = texts;
    in[1] = in[0];
    in[2] = in[0];
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(sync->Insert(3, handles, nullptr, in, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(sync->Insert(0, handles, times, in, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);

    const uint64_t before = NowTicks();
    ASSERT_EQ(sync->Insert(3, handles, times, in, &errors), S_FALSE);
    const uint64_t after = NowTicks();
    EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3),
              (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE}));
    CoTaskMemFree(errors);
    {
        std::lock_guard<std::mutex> lock(g_storeLock);
        ASSERT_EQ(g_store.size(), 2u);
        EXPECT_EQ(g_store[0].text, "caf\xE9 restarted"); // code page 1252
        EXPECT_EQ(g_store[0].user, "alice");
        EXPECT_EQ(g_store[0].item, ItemOf(1));
        EXPECT_EQ(g_store[0].time, Sec(2));
        EXPECT_GE(g_store[0].annotationTime + kSecond, before);
        EXPECT_LE(g_store[0].annotationTime, after + kSecond);
    }
    // A text the host refuses fails its item.
    in[0].dwNumValues = 1;
    in[0].szAnnotation = bad;
    ASSERT_EQ(sync->Insert(1, handles, times, in, &errors), S_FALSE);
    EXPECT_EQ(errors[0], E_FAIL);
    CoTaskMemFree(errors);

    // Reads: reversed times are fine; handle 2 may read; 99 is unknown.
    OPCHDA_TIME s = AbsoluteTime(Sec(9)), e = AbsoluteTime(Sec(0));
    OPCHDA_ANNOTATION *values = nullptr;
    ASSERT_EQ(sync->Read(&s, &e, 3, handles, &values, &errors), S_FALSE);
    EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3),
              (std::vector<HRESULT>{S_OK, OPC_S_NODATA, OPC_E_INVALIDHANDLE}));
    ASSERT_EQ(values[0].hClient, 10u);
    ASSERT_EQ(values[0].dwNumValues, 2u);
    EXPECT_EQ(std::wstring(values[0].szAnnotation[0]), first);
    EXPECT_EQ(std::wstring(values[0].szAnnotation[1]), second);
    EXPECT_EQ(std::wstring(values[0].szUser[1]), L"alice");
    EXPECT_EQ(Ticks(values[0].ftTimeStamps[1]), Sec(2));
    EXPECT_EQ(values[1].dwNumValues, 0u);
    EXPECT_EQ(values[1].szAnnotation, nullptr);
    FreeAnnotations(values, 3);
    CoTaskMemFree(errors);

    // The host's value limit cuts the list.
    SetHDAReadLimits(1, 0);
    ASSERT_EQ(sync->Read(&s, &e, 1, handles, &values, &errors), S_OK);
    EXPECT_EQ(errors[0], OPC_S_MOREDATA);
    EXPECT_EQ(values[0].dwNumValues, 1u);
    FreeAnnotations(values, 1);
    CoTaskMemFree(errors);
    SetHDAReadLimits(0, 0);

    // A time that does not resolve is refused with null out pointers.
    OPCHDA_TIME text = TextTime(L"NOT A TIME");
    values = reinterpret_cast<OPCHDA_ANNOTATION *>(1);
    errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(sync->Read(&text, &e, 1, handles, &values, &errors), E_INVALIDARG);
    EXPECT_EQ(values, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(spy->Outstanding(), outstanding);
    sync->Release();
}

TEST_F(Annotations, AsynchronousRequestsAreDeliveredAtTheNextTick)
{
    EnableReadAnnotationsCallback(ReadAnnotationsCb);
    EnableInsertAnnotationCallback(InsertAnnotationCb);
    AddItem(1, 10, TRUE, TRUE, "carol");
    IOPCHDA_AsyncAnnotations *async = nullptr;
    ASSERT_EQ(Ask(IID_IOPCHDA_AsyncAnnotations, &async), S_OK);
    Unadvise();
    AnnotationSink mine;
    DWORD myCookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&mine), &myCookie), S_OK);
    TraceCapture cap;

    OPCHANDLE handles[2] = {1, 7};
    FILETIME times[2] = {Ft(Sec(4)), Ft(Sec(4))};
    wchar_t note[] = L"note";
    LPWSTR texts[1] = {note};
    OPCHDA_ANNOTATION in[2] = {};
    in[0].dwNumValues = 1;
    in[0].szAnnotation = texts;
    in[1] = in[0];
    RequestOut insert;
    ASSERT_EQ(async->Insert(5, 2, handles, times, in, &insert.cancelId, &insert.errors), S_FALSE);
    EXPECT_EQ(insert.Errors(2), (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_NE(insert.cancelId, 0u);
    EXPECT_TRUE(g_store.empty()); // not before the tick
    ASSERT_TRUE(Tick());

    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    RequestOut readOut;
    ASSERT_EQ(async->Read(6, &s, &e, 1, handles, &readOut.cancelId, &readOut.errors), S_OK);
    // A cancelled read is never delivered.
    RequestOut cancelled;
    ASSERT_EQ(async->Read(7, &s, &e, 1, handles, &cancelled.cancelId, &cancelled.errors), S_OK);
    EXPECT_EQ(async->Cancel(cancelled.cancelId), S_OK);
    ASSERT_TRUE(Tick());

    std::vector<AnnotationCall> calls = mine.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].insert);
    EXPECT_EQ(calls[0].transactionId, 5u);
    EXPECT_EQ(calls[0].status, S_FALSE);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF}));
    EXPECT_EQ(calls[0].codes, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_FALSE(calls[1].insert);
    EXPECT_EQ(calls[1].transactionId, 6u);
    EXPECT_EQ(calls[1].status, S_OK);
    EXPECT_EQ(calls[1].texts, (std::vector<std::vector<std::wstring>>{{L"note"}}));
    {
        std::lock_guard<std::mutex> lock(g_storeLock);
        ASSERT_EQ(g_store.size(), 1u);
        EXPECT_EQ(g_store[0].user, "carol");
    }
    EXPECT_EQ(MethodTraces(cap),
              (std::vector<std::string>{"IHDA_ASyncAnnotations::Insert()",
                                        "IHDA_ASyncAnnotations::Read()",
                                        "IHDA_ASyncAnnotations::Read()",
                                        "IHDA_ASyncAnnotations::Cancel()"}));
    EXPECT_EQ(point->Unadvise(myCookie), S_OK);
    async->Release();
}

void FreeModified(OPCHDA_MODIFIEDITEM *items, DWORD n)
{
    for (DWORD i = 0; i < n; ++i) {
        for (DWORD j = 0; j < items[i].dwCount; ++j) {
            VariantClear(&items[i].pvDataValues[j]);
            CoTaskMemFree(items[i].szUser[j]);
        }
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
        CoTaskMemFree(items[i].pftModificationTime);
        CoTaskMemFree(items[i].pEditType);
        CoTaskMemFree(items[i].szUser);
    }
    CoTaskMemFree(items);
}

TEST_F(Annotations, ReadModifiedHandsOverTheHostsJournalWithTheRulesOfRawReads)
{
    AddItem(1, 10);
    AddItem(3, 30);
    IOPCHDA_SyncRead *sync = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&sync)),
              S_OK);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    OPCHANDLE handles[3] = {1, 3, 99};
    OPCHDA_MODIFIEDITEM *items = reinterpret_cast<OPCHDA_MODIFIEDITEM *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    RequestOut out;
    // Without the callback: not offered, out values cleared.
    EXPECT_EQ(sync->ReadModified(&s, &e, 0, 1, handles, &items, &errors), E_NOTIMPL);
    EXPECT_EQ(items, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(read->ReadModified(1, &s, &e, 0, 1, handles, &out.cancelId, &out.errors),
              E_NOTIMPL);
    EXPECT_TRUE(out.Cleared());

    EnableReadModifiedCallback(ReadModifiedCb);
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    const long outstanding = spy->Outstanding();
    EXPECT_EQ(sync->ReadModified(&s, &e, 0, 0, handles, &items, &errors), E_INVALIDARG);
    EXPECT_EQ(items, nullptr);

    ASSERT_EQ(sync->ReadModified(&s, &e, 0, 3, handles, &items, &errors), S_FALSE);
    EXPECT_EQ(std::vector<HRESULT>(errors, errors + 3),
              (std::vector<HRESULT>{S_OK, E_FAIL, OPC_E_INVALIDHANDLE}));
    ASSERT_EQ(items[0].hClient, 10u);
    ASSERT_EQ(items[0].dwCount, 3u);
    EXPECT_EQ(std::vector<int>(items[0].pEditType, items[0].pEditType + 3),
              (std::vector<int>{OPCHDA_REPLACE, OPCHDA_REPLACE, OPCHDA_DELETE}));
    EXPECT_EQ(Ticks(items[0].pftTimeStamps[2]), Sec(3));
    EXPECT_EQ(Ticks(items[0].pftModificationTime[2]), Sec(103));
    EXPECT_EQ(items[0].pdwQualities[1], 0xC2u);
    EXPECT_EQ(Text(items[0].pvDataValues[2]), L"gone");
    EXPECT_EQ(std::wstring(items[0].szUser[0]), L"alice");
    EXPECT_EQ(std::wstring(items[0].szUser[2]), L"bob");
    EXPECT_EQ(items[1].dwCount, 0u); // a failed item carries no arrays
    EXPECT_EQ(items[1].pEditType, nullptr);
    FreeModified(items, 3);
    CoTaskMemFree(errors);

    // numValues cuts the list and tells of more; the host's limit refuses more.
    ASSERT_EQ(sync->ReadModified(&s, &e, 2, 1, handles, &items, &errors), S_OK);
    EXPECT_EQ(errors[0], OPC_S_MOREDATA);
    EXPECT_EQ(items[0].dwCount, 2u);
    FreeModified(items, 1);
    CoTaskMemFree(errors);
    SetHDAReadLimits(1, 0);
    ASSERT_EQ(sync->ReadModified(&s, &e, 2, 1, handles, &items, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_MAXEXCEEDED);
    FreeModified(items, 1);
    CoTaskMemFree(errors);
    ASSERT_EQ(sync->ReadModified(&s, &e, 0, 1, handles, &items, &errors), S_OK);
    EXPECT_EQ(errors[0], OPC_S_MOREDATA);
    EXPECT_EQ(items[0].dwCount, 1u);
    FreeModified(items, 1);
    CoTaskMemFree(errors);
    SetHDAReadLimits(0, 0);
    EXPECT_EQ(spy->Outstanding(), outstanding);

    // Asynchronous: delivered with OnReadModifiedComplete at the next tick.
    Unadvise();
    AnnotationSink mine;
    DWORD myCookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&mine), &myCookie), S_OK);
    ASSERT_EQ(read->ReadModified(4, &s, &e, 0, 2, handles, &out.cancelId, &out.errors), S_OK);
    EXPECT_EQ(out.Errors(2), (std::vector<HRESULT>{S_OK, S_OK}));
    ASSERT_TRUE(Tick());
    std::vector<AnnotationCall> calls = mine.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transactionId, 4u);
    EXPECT_EQ(calls[0].status, S_FALSE);
    EXPECT_EQ(calls[0].clients, (std::vector<OPCHANDLE>{10, 30}));
    EXPECT_EQ(calls[0].codes, (std::vector<HRESULT>{S_OK, E_FAIL}));
    EXPECT_EQ(calls[0].edits, (std::vector<std::vector<int>>{
                                  {OPCHDA_REPLACE, OPCHDA_REPLACE, OPCHDA_DELETE}, {}}));
    EXPECT_EQ(point->Unadvise(myCookie), S_OK);
    sync->Release();
}

// Every task allocation of a read refused in turn: the read fails with
// E_OUTOFMEMORY and null out pointers, or succeeds with the item's own
// E_OUTOFMEMORY; either way nothing is left behind.
TEST_F(Annotations, RefusedAllocationsLeaveNothingBehind)
{
    EnableReadAnnotationsCallback(ReadAnnotationsCb);
    EnableReadModifiedCallback(ReadModifiedCb);
    AddItem(1, 10);
    {
        std::lock_guard<std::mutex> lock(g_storeLock);
        for (int k = 1; k <= 3; ++k)
            g_store.push_back(Stored{ItemOf(1), Sec(k), "text", Sec(50), "user"});
    }
    IOPCHDA_SyncAnnotations *annotations = nullptr;
    ASSERT_EQ(Ask(IID_IOPCHDA_SyncAnnotations, &annotations), S_OK);
    IOPCHDA_SyncRead *sync = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&sync)),
              S_OK);
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    ASSERT_NE(spy, nullptr);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    OPCHANDLE h = 1;
    {
        // One read before the refusals: the host's own lasting values exist.
        OPCHDA_MODIFIEDITEM *items = nullptr;
        HRESULT *errors = nullptr;
        ASSERT_EQ(sync->ReadModified(&s, &e, 0, 1, &h, &items, &errors), S_OK);
        FreeModified(items, 1);
        CoTaskMemFree(errors);
    }

    struct Outcome
    {
        HRESULT hr;
        HRESULT item;
        bool outsNull;
    };
    const std::function<Outcome()> reads[] = {
        [&] {
            OPCHDA_ANNOTATION *values = nullptr;
            HRESULT *errors = nullptr;
            HRESULT hr = annotations->Read(&s, &e, 1, &h, &values, &errors);
            Outcome o{hr, errors != nullptr ? errors[0] : E_UNEXPECTED,
                      values == nullptr && errors == nullptr};
            if (values != nullptr)
                FreeAnnotations(values, 1);
            CoTaskMemFree(errors);
            return o;
        },
        [&] {
            OPCHDA_MODIFIEDITEM *items = nullptr;
            HRESULT *errors = nullptr;
            HRESULT hr = sync->ReadModified(&s, &e, 0, 1, &h, &items, &errors);
            Outcome o{hr, errors != nullptr ? errors[0] : E_UNEXPECTED,
                      items == nullptr && errors == nullptr};
            if (items != nullptr)
                FreeModified(items, 1);
            CoTaskMemFree(errors);
            return o;
        },
    };
    for (size_t r = 0; r < 2; ++r) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(::testing::Message() << "read " << r << " refusing allocation " << n);
            const long before = spy->Outstanding();
            Outcome o{};
            bool hit;
            {
                TaskAllocFailure failure(n);
                o = reads[r]();
                hit = failure.Hit();
            }
            if (o.hr == E_OUTOFMEMORY)
                EXPECT_TRUE(o.outsNull);
            else if (hit)
                EXPECT_EQ(o.item, E_OUTOFMEMORY);
            else
                EXPECT_EQ(o.item, S_OK);
            EXPECT_EQ(spy->Outstanding(), before);
            if (!hit)
                break;
            ASSERT_LT(n, 50);
        }
    }
    annotations->Release();
    sync->Release();
}

} // namespace
