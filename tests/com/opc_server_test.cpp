// IOPCHDA_Server: historian status, catalogues, item handles per client,
// validation, browsers, refused arguments and traces.
#include "server_fixture.h"
#include "history/read_limits.h"

#include "alloc_counter.h"
#include "runtime/server_state.h"

using namespace zqtest;

namespace {

ULONGLONG Ticks(const FILETIME &t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

ULONGLONG SystemNow()
{
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return Ticks(t);
}

struct Status
{
    HRESULT hr = E_FAIL;
    OPCHDA_SERVERSTATUS status = OPCHDA_DOWN;
    ULONGLONG now = 0, started = 0;
    WORD major = 9, minor = 9, build = 9;
    DWORD maxValues = 9;
    std::string text, vendor;
};

Status StatusOf(IOPCHDA_Server *s)
{
    Status r;
    FILETIME *now = nullptr, *started = nullptr;
    LPWSTR text = nullptr, vendor = nullptr;
    r.hr = s->GetHistorianStatus(&r.status, &now, &started, &r.major, &r.minor, &r.build,
                                 &r.maxValues, &text, &vendor);
    if (r.hr == S_OK) {
        r.now = Ticks(*now);
        r.started = Ticks(*started);
        r.text = Take(text);
        r.vendor = Take(vendor);
        CoTaskMemFree(now);
        CoTaskMemFree(started);
    }
    return r;
}

// One GetItemHandles call: server handles and errors, freed.
struct Handles
{
    HRESULT hr = E_FAIL;
    std::vector<OPCHANDLE> server;
    std::vector<HRESULT> errors;
};

Handles GetHandles(IOPCHDA_Server *s, WideIds ids, std::vector<OPCHANDLE> clients)
{
    Handles r;
    OPCHANDLE *server = nullptr;
    HRESULT *errors = nullptr;
    r.hr = s->GetItemHandles(ids.size(), ids.get(), clients.data(), &server, &errors);
    if (SUCCEEDED(r.hr)) {
        r.server.assign(server, server + ids.size());
        r.errors.assign(errors, errors + ids.size());
    }
    CoTaskMemFree(server);
    CoTaskMemFree(errors);
    return r;
}

std::vector<HRESULT> ReleaseHandles(IOPCHDA_Server *s, std::vector<OPCHANDLE> handles,
                                    HRESULT *hr = nullptr)
{
    HRESULT *errors = nullptr;
    HRESULT result =
        s->ReleaseItemHandles(static_cast<DWORD>(handles.size()), handles.data(), &errors);
    if (hr != nullptr)
        *hr = result;
    std::vector<HRESULT> out;
    if (errors != nullptr)
        out.assign(errors, errors + handles.size());
    CoTaskMemFree(errors);
    return out;
}


using Results = std::vector<HRESULT>;

} // namespace

class Methods : public ServerTest
{
protected:
    // The item a server handle's entry names, or null when the client has
    // no entry with that handle.
    static void *ItemOf(IOPCHDA_Server *s, OPCHANDLE h)
    {
        zq::HandleLookup entry;
        return ObjectOf(s).Handles().Find(h, &entry) ? entry.itemHandle : nullptr;
    }
};

TEST_F(Methods, HistorianStatus)
{
    ULONGLONG before = SystemNow();
    Status s = StatusOf(server);
    ULONGLONG after = SystemNow();
    ASSERT_EQ(s.hr, S_OK);
    EXPECT_EQ(s.status, OPCHDA_UP);
    EXPECT_EQ(s.major, 1);
    EXPECT_EQ(s.minor, 0);
    EXPECT_EQ(s.build, 0);
    EXPECT_EQ(s.maxValues, zq::kReplyValueLimit) << "without host limits: the bound of one reply";
    EXPECT_EQ(s.text, "");
    EXPECT_EQ(s.vendor, "Morvane OPC HDA Server");
    // The clocks may differ by their resolution (about 16 ms on Windows).
    const ULONGLONG slack = 200000;
    EXPECT_GE(s.now + slack, before);
    EXPECT_LE(s.now, after + slack);
    EXPECT_EQ(s.started, Ticks(zq::State().startTime));
    EXPECT_NE(s.started, 0u);
    EXPECT_LE(s.started, s.now);

    Sleep(30);
    ASSERT_EQ(SetHDAVendorInfo("Acme Historian"), 1);
    ASSERT_EQ(SetHDAReadLimits(250, 40), 1);
    Status again = StatusOf(server);
    SetHDAVendorInfo("Morvane OPC HDA Server");
    SetHDAReadLimits(0, 0);
    EXPECT_GT(again.now, s.now) << "every call reports a fresh time";
    EXPECT_EQ(again.started, s.started);
    EXPECT_EQ(again.vendor, "Acme Historian");
    EXPECT_EQ(again.maxValues, 250u) << "the host's limit of values per item";
}

TEST_F(Methods, CataloguesInDefinitionOrder)
{
    ASSERT_EQ(DefineHDAAttribute(OPCHDA_ENG_UNITS, "Units", "Engineering units", VT_BSTR, 0), 1);
    ASSERT_EQ(DefineHDAAttribute(7001, "Rack", "", VT_I4, 1), 1);
    ASSERT_EQ(DefineHDAAttribute(OPCHDA_DESCRIPTION, "Description", "Text", VT_BSTR, 0), 1);
    ASSERT_EQ(DefineHDAAggregate(OPCHDA_MAXIMUM, "Maximum", "Largest value"), 1);
    ASSERT_EQ(DefineHDAAggregate(OPCHDA_AVERAGE, "Average", "Mean value"), 1);

    DWORD count = 0, *ids = nullptr;
    LPWSTR *names = nullptr, *descriptions = nullptr;
    VARTYPE *types = nullptr;
    ASSERT_EQ(server->GetItemAttributes(&count, &ids, &names, &descriptions, &types), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ((std::vector<DWORD>(ids, ids + 3)),
              (std::vector<DWORD>{OPCHDA_ENG_UNITS, 7001, OPCHDA_DESCRIPTION}));
    EXPECT_EQ((std::vector<VARTYPE>(types, types + 3)),
              (std::vector<VARTYPE>{VT_BSTR, VT_I4, VT_BSTR}));
    Strings texts;
    for (DWORD i = 0; i < count; ++i)
        texts.push_back(Take(names[i]) + "/" + Take(descriptions[i]));
    EXPECT_EQ(texts, (Strings{"Units/Engineering units", "Rack/", "Description/Text"}));
    for (void *p : {static_cast<void *>(ids), static_cast<void *>(names),
                    static_cast<void *>(descriptions), static_cast<void *>(types)})
        CoTaskMemFree(p);

    ASSERT_EQ(server->GetAggregates(&count, &ids, &names, &descriptions), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(ids[0], static_cast<DWORD>(OPCHDA_MAXIMUM));
    EXPECT_EQ(ids[1], static_cast<DWORD>(OPCHDA_AVERAGE));
    EXPECT_EQ(Take(names[0]) + "/" + Take(descriptions[0]), "Maximum/Largest value");
    EXPECT_EQ(Take(names[1]) + "/" + Take(descriptions[1]), "Average/Mean value");
    CoTaskMemFree(ids);
    CoTaskMemFree(names);
    CoTaskMemFree(descriptions);
}

TEST_F(Methods, EmptyCatalogues)
{
    DWORD count = 5, *ids = nullptr;
    LPWSTR *names = nullptr, *descriptions = nullptr;
    ASSERT_EQ(server->GetAggregates(&count, &ids, &names, &descriptions), S_OK);
    EXPECT_EQ(count, 0u);
    CoTaskMemFree(ids);
    CoTaskMemFree(names);
    CoTaskMemFree(descriptions);
}

TEST_F(Methods, HandlesForDefinedAndUndefinedIds)
{
    void *item = DefineHDAItem("Plant.Temp");
    ASSERT_NE(item, zq::NoItemHandle());
    Handles h = GetHandles(server, {L"Plant.Temp", L"Plant.Nothing"}, {0xFFFFFFFFu, 2});
    EXPECT_EQ(h.hr, S_FALSE);
    EXPECT_EQ(h.errors, (Results{S_OK, OPC_E_UNKNOWNITEMID}));
    EXPECT_NE(h.server[0], 0u);
    EXPECT_EQ(h.server[1], 0u);

    // Access control is off: every entry may read and write, as "Unknown".
    zq::HandleLookup entry;
    char user[zq::kUserNameBuffer] = "unset";
    ASSERT_TRUE(ObjectOf(server).Handles().Find(h.server[0], &entry, user));
    EXPECT_EQ(entry.itemHandle, item);
    EXPECT_EQ(entry.clientHandle, 0xFFFFFFFFu);
    EXPECT_TRUE(entry.readAllowed);
    EXPECT_TRUE(entry.writeAllowed);
    EXPECT_STREQ(user, "Unknown");
    EXPECT_EQ(ObjectOf(server).Handles().Size(), 1u);

    Handles again = GetHandles(server, {L"Plant.Temp"}, {1});
    EXPECT_EQ(again.hr, S_OK);
    EXPECT_EQ(ReleaseHandles(server, {h.server[0], again.server[0], h.server[0]}),
              (Results{S_OK, S_OK, OPC_E_INVALIDHANDLE}));
}

TEST_F(Methods, WithAccessControlOnTheCallersRightsAreRecorded)
{
    // This caller is not a COM client (a direct call, no incoming call to
    // impersonate): it gets its handles, with no rights and "Unknown".
    void *item = DefineSecureHDAItem("Secure", 0x00010000, 0x00020000);
    ASSERT_NE(item, zq::NoItemHandle());
    ASSERT_EQ(EnableHDASecurity(1, 0), 1);
    Handles h = GetHandles(server, {L"Secure"}, {5});
    EnableHDASecurity(0, 0);
    ASSERT_EQ(h.hr, S_OK);
    EXPECT_EQ(ItemOf(server, h.server[0]), item);
    zq::HandleLookup entry;
    char user[zq::kUserNameBuffer] = "unset";
    ASSERT_TRUE(ObjectOf(server).Handles().Find(h.server[0], &entry, user));
    EXPECT_FALSE(entry.readAllowed);
    EXPECT_FALSE(entry.writeAllowed);
    EXPECT_STREQ(user, "Unknown");
}

TEST_F(Methods, TheSameIdTwiceGivesTwoEntriesWithServerHandlesOfTheirOwn)
{
    void *item = DefineHDAItem("Twice");
    ASSERT_NE(item, zq::NoItemHandle());
    Handles h = GetHandles(server, {L"Twice", L"Twice"}, {10, 20});
    ASSERT_EQ(h.hr, S_OK);
    ASSERT_NE(h.server[0], h.server[1]);
    zq::HandleList &list = ObjectOf(server).Handles();
    EXPECT_EQ(list.Size(), 2u);
    EXPECT_EQ(ItemOf(server, h.server[0]), item);
    EXPECT_EQ(ItemOf(server, h.server[1]), item);

    // Releasing the second registration leaves the first one with its own
    // client handle.
    HRESULT hr = E_FAIL;
    EXPECT_EQ(ReleaseHandles(server, {h.server[1]}, &hr), Results{S_OK});
    EXPECT_EQ(hr, S_OK);
    zq::HandleLookup entry;
    ASSERT_TRUE(list.Find(h.server[0], &entry));
    EXPECT_EQ(entry.clientHandle, 10u);
    EXPECT_EQ(ReleaseHandles(server, {h.server[1], h.server[0], 0}, &hr),
              (Results{OPC_E_INVALIDHANDLE, S_OK, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(list.Size(), 0u);
    // A new registration never gets a released handle back.
    Handles later = GetHandles(server, {L"Twice"}, {30});
    ASSERT_EQ(later.hr, S_OK);
    EXPECT_NE(later.server[0], h.server[0]);
    EXPECT_NE(later.server[0], h.server[1]);
    EXPECT_NE(later.server[0], 0u);
}

TEST_F(Methods, HandleListsArePerClient)
{
    ASSERT_NE(DefineHDAItem("Shared"), zq::NoItemHandle());
    IOPCHDA_Server *other = nullptr;
    ASSERT_EQ(CreateServer(IID_IOPCHDA_Server, reinterpret_cast<void **>(&other)), S_OK);
    Handles mine = GetHandles(server, {L"Shared"}, {1});
    ASSERT_EQ(mine.hr, S_OK);
    EXPECT_EQ(ReleaseHandles(other, {mine.server[0]}), Results{OPC_E_INVALIDHANDLE});
    EXPECT_EQ(ObjectOf(other).Handles().Size(), 0u);
    Handles theirs = GetHandles(other, {L"Shared"}, {2});
    ASSERT_EQ(theirs.hr, S_OK);
    EXPECT_EQ(ReleaseHandles(server, {mine.server[0]}), Results{S_OK});
    EXPECT_EQ(ReleaseHandles(server, {mine.server[0]}), Results{OPC_E_INVALIDHANDLE});
    EXPECT_EQ(ObjectOf(other).Handles().Size(), 1u) << "the other client keeps its entry";
    other->Release();
}

// A character the code page cannot hold is never replaced by a lookalike:
// a fullwidth digit or full stop names nothing, wherever client text names
// items or positions. Characters the code page holds still convert.
TEST_F(Methods, LookalikeCharactersNameNothing)
{
    ASSERT_NE(DefineHDAItem("Load.Area1.Tag00"), zq::NoItemHandle());
    ASSERT_NE(DefineHDAItem("Load.Gr\xFCn"), zq::NoItemHandle()); // "Grün" in code page 1252
    ASSERT_EQ(GetACP(), 1252u) << "the names above are 1252 text";
    const wchar_t *lookalike = L"Load.Area1.Tag0\xFF10"; // fullwidth zero
    const wchar_t *dotLookalike = L"Load\xFF0E" L"Area1.Tag00"; // fullwidth full stop
    WideIds ids{lookalike, dotLookalike, L"Load.Area1.Tag00", L"Load.Gr\x00FCn", L"\xD800"};
    const Results expected{OPC_E_UNKNOWNITEMID, OPC_E_UNKNOWNITEMID, S_OK, S_OK,
                           OPC_E_UNKNOWNITEMID};
    HRESULT *errors = nullptr;
    ASSERT_EQ(server->ValidateItemIDs(ids.size(), ids.get(), &errors), S_FALSE);
    EXPECT_EQ(Results(errors, errors + ids.size()), expected);
    CoTaskMemFree(errors);
    Handles h = GetHandles(server, {lookalike, dotLookalike, L"Load.Area1.Tag00", L"Load.Gr\x00FCn",
                                    L"\xD800"},
                           {1, 2, 3, 4, 5});
    EXPECT_EQ(h.errors, expected);
    EXPECT_EQ(ObjectOf(server).Handles().Size(), 2u);

    IOPCHDA_Browser *browser = Browse();
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, L"Load\xFF0E" L"Area1"), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, L"Lo\xFF41" L"d"), E_FAIL);
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, L"Load.Area1"), S_OK);
    LPWSTR id = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(browser->GetItemID(L"Tag0\xFF10", &id), OPC_E_INVALIDITEMID);
    EXPECT_EQ(id, nullptr);
    ASSERT_EQ(browser->GetItemID(L"Tag00", &id), S_OK);
    EXPECT_STREQ(id, L"Load.Area1.Tag00");
    CoTaskMemFree(id);
    browser->Release();
}

TEST_F(Methods, ValidateItemIds)
{
    ASSERT_NE(DefineHDAItem("V.One"), zq::NoItemHandle());
    WideIds ids{L"V.One", L"V", L"V.Two", L""};
    HRESULT *errors = nullptr;
    ASSERT_EQ(server->ValidateItemIDs(ids.size(), ids.get(), &errors), S_FALSE);
    // A branch record made on the way to an item is found by its path too.
    EXPECT_EQ(Results(errors, errors + 4), (Results{S_OK, S_OK, OPC_E_UNKNOWNITEMID,
                                                    OPC_E_UNKNOWNITEMID}));
    CoTaskMemFree(errors);
    WideIds one{L"V.One"};
    ASSERT_EQ(server->ValidateItemIDs(1, one.get(), &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(ObjectOf(server).Handles().Size(), 0u) << "validation adds no entry";
}

TEST_F(Methods, CreateBrowseAcceptsEveryFilter)
{
    DWORD attributes[3] = {OPCHDA_DESCRIPTION, 999, OPCHDA_ENG_UNITS};
    OPCHDA_OPERATORCODES operators[3] = {OPCHDA_EQUAL, OPCHDA_GREATER,
                                         static_cast<OPCHDA_OPERATORCODES>(77)};
    VARIANT filters[3];
    for (VARIANT &v : filters) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 5;
    }
    IOPCHDA_Browser *browser = nullptr;
    HRESULT *errors = nullptr;
    ASSERT_EQ(server->CreateBrowse(3, attributes, operators, filters, &browser, &errors), S_OK);
    ASSERT_NE(browser, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(Results(errors, errors + 3), (Results{S_OK, S_OK, S_OK}));
    CoTaskMemFree(errors);
    EXPECT_EQ(BranchPosition(browser), "Root");
    EXPECT_EQ(browser->Release(), 0u);

    // Without filters there is nothing to report: a null error array.
    errors = reinterpret_cast<HRESULT *>(1);
    ASSERT_EQ(server->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &errors), S_OK);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(browser->Release(), 0u);
}

TEST_F(Methods, RefusedArgumentsLeaveNothing)
{
    ASSERT_NE(DefineHDAItem("X"), zq::NoItemHandle());
    WideIds ids{L"X"};
    OPCHANDLE client = 1, handle = 1;
    auto *junkHandles = reinterpret_cast<OPCHANDLE *>(1);
    auto *junkErrors = reinterpret_cast<HRESULT *>(1);

    OPCHANDLE *sh = junkHandles;
    HRESULT *errors = junkErrors;
    EXPECT_EQ(server->GetItemHandles(0, ids.get(), &client, &sh, &errors), E_INVALIDARG);
    EXPECT_EQ(sh, nullptr);
    EXPECT_EQ(errors, nullptr);
    sh = junkHandles;
    EXPECT_EQ(server->GetItemHandles(1, nullptr, &client, &sh, &errors), E_INVALIDARG);
    EXPECT_EQ(sh, nullptr);
    EXPECT_EQ(server->GetItemHandles(1, ids.get(), nullptr, &sh, &errors), E_INVALIDARG);
    errors = junkErrors;
    EXPECT_EQ(server->GetItemHandles(1, ids.get(), &client, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(server->GetItemHandles(1, ids.get(), &client, &sh, nullptr), E_INVALIDARG);
    EXPECT_EQ(ObjectOf(server).Handles().Size(), 0u);

    errors = junkErrors;
    EXPECT_EQ(server->ReleaseItemHandles(0, &handle, &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(server->ReleaseItemHandles(1, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(server->ReleaseItemHandles(1, &handle, nullptr), E_INVALIDARG);
    errors = junkErrors;
    EXPECT_EQ(server->ValidateItemIDs(0, ids.get(), &errors), E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(server->ValidateItemIDs(1, nullptr, &errors), E_INVALIDARG);
    EXPECT_EQ(server->ValidateItemIDs(1, ids.get(), nullptr), E_INVALIDARG);

    DWORD count = 7, *aids = reinterpret_cast<DWORD *>(1);
    LPWSTR *names = reinterpret_cast<LPWSTR *>(1), *descriptions = names;
    VARTYPE *types = reinterpret_cast<VARTYPE *>(1);
    EXPECT_EQ(server->GetItemAttributes(nullptr, &aids, &names, &descriptions, &types),
              E_INVALIDARG);
    EXPECT_EQ(aids, nullptr);
    EXPECT_EQ(names, nullptr);
    EXPECT_EQ(descriptions, nullptr);
    EXPECT_EQ(types, nullptr);
    EXPECT_EQ(server->GetItemAttributes(&count, &aids, &names, &descriptions, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(server->GetAggregates(&count, nullptr, &names, &descriptions), E_INVALIDARG);
    EXPECT_EQ(server->GetAggregates(nullptr, &aids, &names, &descriptions), E_INVALIDARG);

    OPCHDA_SERVERSTATUS status;
    FILETIME *now = reinterpret_cast<FILETIME *>(1), *started = now;
    WORD w;
    DWORD max;
    LPWSTR text = reinterpret_cast<LPWSTR>(1), vendor = text;
    EXPECT_EQ(server->GetHistorianStatus(&status, &now, &started, &w, &w, nullptr, &max, &text,
                                         &vendor),
              E_INVALIDARG);
    EXPECT_EQ(now, nullptr);
    EXPECT_EQ(started, nullptr);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(vendor, nullptr);
    EXPECT_EQ(server->GetHistorianStatus(&status, &now, &started, &w, &w, &w, &max, &text,
                                         nullptr),
              E_INVALIDARG);

    IOPCHDA_Browser *browser = reinterpret_cast<IOPCHDA_Browser *>(1);
    DWORD attribute = 1;
    EXPECT_EQ(server->CreateBrowse(1, &attribute, nullptr, nullptr, &browser, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(browser, nullptr);
    errors = junkErrors;
    EXPECT_EQ(server->CreateBrowse(1, &attribute, nullptr, nullptr, nullptr, &errors),
              E_INVALIDARG);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
}

TEST_F(Methods, TracesAndForwarding)
{
    TraceCapture cap;
    DWORD n;
    server->GetItemAttributes(&n, nullptr, nullptr, nullptr, nullptr);
    server->GetAggregates(&n, nullptr, nullptr, nullptr);
    server->GetHistorianStatus(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr);
    server->GetItemHandles(0, nullptr, nullptr, nullptr, nullptr);
    server->ReleaseItemHandles(0, nullptr, nullptr);
    server->ValidateItemIDs(0, nullptr, nullptr);
    server->CreateBrowse(0, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(cap.Texts(),
              (Strings{"IHDAServer::GetItemAttributes()", "IHDAServer::GetAggregates()",
                       "IHDAServer::GetHistorianStatus()", "IHDAServer::GetItemHandles()",
                       "IHDAServer::ReleaseItemHandles()", "IHDAServer::ValidateItemIDs()",
                       "IHDAServer::CreateBrowse()"}));

    cap.Clear();
    EXPECT_EQ(server->AddRef(), 2u);
    EXPECT_EQ(server->Release(), 1u);
    IUnknown *unk = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    unk->Release();
    EXPECT_EQ(cap.Texts(), (Strings{"IHDAServer::AddRef() [defered to HDAServer]",
                                    "HDAServer::AddRef(2)",
                                    "IHDAServer::Release() [defered to HDAServer]",
                                    "HDAServer::Release(2)",
                                    "IHDAServer::QueryInterface()  [defered to HDAServer]",
                                    "HDAServer::QueryInterface IID_IUnknown",
                                    "HDAServer::AddRef(2)", "HDAServer::Release(2)"}));
}

TEST_F(Methods, OutOfMemoryForEntriesAndBrowsers)
{
    void *item = DefineHDAItem("Mem");
    ASSERT_NE(item, zq::NoItemHandle());
    zq::HandleList &list = ObjectOf(server).Handles();
    // Once used, the list keeps its index storage: measure after a first use.
    ReleaseHandles(server, GetHandles(server, {L"Mem"}, {1}).server);
    WideIds ids{L"Mem"};
    OPCHANDLE client = 1;
    long long live = LiveAllocations();
    OPCHANDLE obtained = 0;
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 50) << "GetItemHandles never succeeded";
        OPCHANDLE *handles = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr;
        {
            AllocFailure fail(n);
            hr = server->GetItemHandles(1, ids.get(), &client, &handles, &errors);
        }
        ASSERT_NE(errors, nullptr);
        HRESULT error = errors[0];
        OPCHANDLE handle = handles[0];
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        if (hr == S_OK) {
            EXPECT_EQ(ItemOf(server, handle), item);
            EXPECT_EQ(list.Size(), 1u);
            obtained = handle;
            break;
        }
        // The entry could not be made: reported per item, nothing added.
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_EQ(error, E_OUTOFMEMORY);
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(list.Size(), 0u);
    }
    EXPECT_EQ(ReleaseHandles(server, {obtained}), Results{S_OK});
    EXPECT_EQ(LiveAllocations(), live);

    LONG refs = ObjectOf(server).RefCount();
    IOPCHDA_Browser *browser = reinterpret_cast<IOPCHDA_Browser *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    DWORD attribute = 1;
    {
        AllocFailure fail(0);
        EXPECT_EQ(server->CreateBrowse(1, &attribute, nullptr, nullptr, &browser, &errors),
                  E_OUTOFMEMORY);
    }
    EXPECT_EQ(browser, nullptr);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(ObjectOf(server).RefCount(), refs) << "no reference left on the server object";
    EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
}
