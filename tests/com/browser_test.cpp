// The browser a client gets from CreateBrowse: position, navigation, item
// IDs, the listings of each browse type, and its traces and lifetime.
#include "server_fixture.h"

#include "alloc_counter.h"

using namespace zqtest;

namespace {

const auto kUp = OPCHDA_BROWSE_UP;
const auto kDown = OPCHDA_BROWSE_DOWN;
const auto kDirect = OPCHDA_BROWSE_DIRECT;

class Browser : public ServerTest
{
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        for (const char *id : {"A.B.C", "A.D", "A.B.E"})
            ASSERT_NE(DefineHDAItem(id), zq::NoItemHandle());
        browser = Browse();
        ASSERT_NE(browser, nullptr);
    }
    void TearDown() override
    {
        if (browser != nullptr) {
            EXPECT_EQ(browser->Release(), 0u);
        }
        ServerTest::TearDown();
    }

    // GetItemID of name: the ID, or the result code as text on failure.
    std::string ItemId(const wchar_t *name)
    {
        LPWSTR id = reinterpret_cast<LPWSTR>(1);
        HRESULT hr = browser->GetItemID(name, &id);
        if (hr != S_OK) {
            EXPECT_EQ(id, nullptr);
            return "hr=" + std::to_string(static_cast<unsigned long>(hr));
        }
        return Take(id);
    }

    IOPCHDA_Browser *browser = nullptr;
};

const std::string kInvalidItemId = "hr=" + std::to_string(0xC0040008ul);

} // namespace

TEST_F(Browser, ANewBrowserIsAtTheRootNode)
{
    EXPECT_EQ(BranchPosition(browser), "Root");
    EXPECT_EQ(ItemId(L""), "");
    EXPECT_EQ(ItemId(nullptr), "");
    EXPECT_EQ(browser->ChangeBrowsePosition(kUp, L""), E_FAIL);
    EXPECT_EQ(BranchPosition(browser), "Root");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{"A"});
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{});
    EXPECT_EQ(List(browser, OPCHDA_FLAT), (Strings{"A.B.C", "A.B.E", "A.D"}));
    EXPECT_EQ(ItemId(L"A"), "A");
}

TEST_F(Browser, ListingsAndItemIdsAtABranch)
{
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"A"), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{"B"});
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{"D"});
    EXPECT_EQ(List(browser, OPCHDA_ITEMS), Strings{"D"});
    EXPECT_EQ(List(browser, OPCHDA_FLAT), (Strings{"A.B.C", "A.B.E", "A.D"}));
    EXPECT_EQ(ItemId(L"D"), "A.D");
    EXPECT_EQ(ItemId(L"B"), "A.B") << "branch names are accepted";
    EXPECT_EQ(ItemId(L"X"), kInvalidItemId);
    EXPECT_EQ(ItemId(L"B.C"), "A.B.C") << "the name is taken whole, not cut";
    EXPECT_EQ(ItemId(L""), "A");

    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"B"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), (Strings{"C", "E"}));
    EXPECT_EQ(List(browser, OPCHDA_FLAT), (Strings{"A.B.C", "A.B.E"}));
    EXPECT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A");
}

TEST_F(Browser, BrowseTypesOutsideTheRangeListNothing)
{
    for (int type : {0, 5, -1}) {
        EXPECT_EQ(List(browser, static_cast<OPCHDA_BROWSETYPE>(type)), Strings{}) << type;
    }
}

TEST_F(Browser, DownTakesThePartAfterTheLastQualifier)
{
    EXPECT_EQ(browser->ChangeBrowsePosition(kDown, L"X.A"), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A");
    EXPECT_EQ(browser->ChangeBrowsePosition(kDown, L"A.Q"), E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(kDown, L"Q"), E_FAIL);
    EXPECT_EQ(BranchPosition(browser), "A") << "a failure leaves the position";
    EXPECT_EQ(browser->ChangeBrowsePosition(static_cast<OPCHDA_BROWSEDIRECTION>(0), L"B"),
              E_FAIL);
    EXPECT_EQ(browser->ChangeBrowsePosition(static_cast<OPCHDA_BROWSEDIRECTION>(4), L"B"),
              E_FAIL);
    EXPECT_EQ(BranchPosition(browser), "A");
}

TEST_F(Browser, DownToALeaf)
{
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"A"), S_OK);
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"D"), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A.D");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{});
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{});
    EXPECT_EQ(List(browser, OPCHDA_FLAT), Strings{});
}

TEST_F(Browser, DirectMovesToAFullPath)
{
    ASSERT_EQ(browser->ChangeBrowsePosition(kDirect, L"A.B.C"), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A.B.C");
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{});
    EXPECT_EQ(browser->ChangeBrowsePosition(kDirect, L"A.Z"), E_FAIL);
    EXPECT_EQ(BranchPosition(browser), "A.B.C");
    ASSERT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), (Strings{"C", "E"}));

    ASSERT_EQ(browser->ChangeBrowsePosition(kDirect, L""), S_OK);
    EXPECT_EQ(BranchPosition(browser), "Root");
    ASSERT_EQ(browser->ChangeBrowsePosition(kDirect, L"A.B"), S_OK);
    ASSERT_EQ(browser->ChangeBrowsePosition(kDirect, nullptr), S_OK);
    EXPECT_EQ(BranchPosition(browser), "Root");
}

TEST_F(Browser, DownWithAnEmptyNameAppendsAnEmptyElement)
{
    // At the root node: the candidate path is empty, which names the root.
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L""), S_OK);
    EXPECT_EQ(BranchPosition(browser), "");
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{});
    EXPECT_EQ(List(browser, OPCHDA_FLAT), Strings{});
    ASSERT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(BranchPosition(browser), "Root");

    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"A"), S_OK);
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, nullptr), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A.");
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{});
    ASSERT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(BranchPosition(browser), "A");
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{"D"});
}

TEST_F(Browser, AnEmptyElementListsAChildWithAnEmptyBrowseName)
{
    ASSERT_NE(DefineHDAItem("P..Q"), zq::NoItemHandle());
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"P"), S_OK);
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L""), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{"Q"});
    EXPECT_EQ(ItemId(L"Q"), "P..Q");
}

TEST_F(Browser, TheFirstChildWithABrowseNameWins)
{
    // A.B is a leaf under branch A; A.B.C is then added below a new branch
    // B beside it: two children of A named B, the leaf added first.
    ResetAddressSpace();
    ASSERT_NE(DefineHDAItem("A.B"), zq::NoItemHandle());
    ASSERT_NE(DefineHDAItem("A.B.C"), zq::NoItemHandle());
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"A"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{"B"});
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{"B"});
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"B"), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{}) << "the leaf was taken";
    EXPECT_EQ(ItemId(L"C"), kInvalidItemId);
    EXPECT_EQ(browser->ChangeBrowsePosition(kDirect, L"A.B.C"), E_FAIL);
}

TEST_F(Browser, ThePositionIsResolvedAgainAtEveryListing)
{
    ASSERT_EQ(browser->ChangeBrowsePosition(kDirect, L"A.B"), S_OK);
    IEnumString *before = nullptr;
    ASSERT_EQ(browser->GetEnum(OPCHDA_LEAF, &before), S_OK);
    ASSERT_EQ(DeleteHDAItem("A.B.C"), 1);
    ASSERT_EQ(DeleteHDAItem("A.B.E"), 1); // branch B goes with its last item
    // The position no longer resolves: empty listings, moving up still works.
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{});
    EXPECT_EQ(BranchPosition(browser), "A.B");
    EXPECT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(List(browser, OPCHDA_LEAF), Strings{"D"});
    // An enumerator made earlier keeps its snapshot.
    EXPECT_EQ(Drain(before), (Strings{"C", "E"}));
    before->Release();
}

TEST_F(Browser, NullOutPointersAreRefused)
{
    EXPECT_EQ(browser->GetEnum(OPCHDA_FLAT, nullptr), E_INVALIDARG);
    EXPECT_EQ(browser->GetItemID(L"A", nullptr), E_INVALIDARG);
    EXPECT_EQ(browser->GetBranchPosition(nullptr), E_INVALIDARG);
    EXPECT_EQ(browser->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
}

TEST_F(Browser, CountsAndTraces)
{
    TraceCapture cap;
    EXPECT_EQ(browser->AddRef(), 2u);
    EXPECT_TRUE(cap.Contains("IOPCHDA_Browser::AddRef(2)"));
    EXPECT_EQ(browser->Release(), 1u);
    EXPECT_TRUE(cap.Contains("IOPCHDA_Browser::Release(1)")) << "the count after";

    cap.Clear();
    IUnknown *unk = nullptr;
    ASSERT_EQ(browser->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    EXPECT_EQ(unk, static_cast<IUnknown *>(browser));
    IOPCHDA_Browser *again = nullptr;
    ASSERT_EQ(browser->QueryInterface(IID_IOPCHDA_Browser, reinterpret_cast<void **>(&again)),
              S_OK);
    EXPECT_EQ(cap.Texts(), (Strings{"IOPCHDA_Browser::QueryInterface IID_IUnknown",
                                    "IOPCHDA_Browser::AddRef(2)",
                                    "IOPCHDA_Browser::QueryInterface IID_IOPCHDA_Browser",
                                    "IOPCHDA_Browser::AddRef(3)"}));
    unk->Release();
    again->Release();

    cap.Clear();
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(browser->QueryInterface(IID_IMarshal, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(browser->QueryInterface(IID_IOPCHDA_Server, &p), E_NOINTERFACE);
    EXPECT_TRUE(cap.Texts().empty()) << "other interfaces are not traced";

    cap.Clear();
    LPWSTR s = nullptr;
    browser->GetBranchPosition(&s);
    CoTaskMemFree(s);
    browser->ChangeBrowsePosition(kUp, nullptr);
    browser->GetItemID(L"", &s);
    CoTaskMemFree(s);
    IEnumString *e = nullptr;
    browser->GetEnum(OPCHDA_LEAF, &e);
    e->Release();
    EXPECT_EQ(cap.Texts(), (Strings{"IOPCHDA_Browser::GetBranchPosition()",
                                    "IOPCHDA_Browser::ChangeBrowsePosition()",
                                    "IOPCHDA_Browser::GetItemID()",
                                    "IOPCHDA_Browser::GetEnum()", "IOPCEnumString::AddRef(1)",
                                    "IOPCEnumString::Release(1)"}));
}

TEST_F(Browser, TheBrowserKeepsTheServerObjectAlive)
{
    server->Release();
    server = nullptr;
    EXPECT_EQ(NumbrHDAClientConnections(), 1) << "the browser still holds a reference";
    EXPECT_EQ(List(browser, OPCHDA_BRANCH), Strings{"A"});
    TraceCapture cap;
    EXPECT_EQ(browser->Release(), 0u);
    browser = nullptr;
    EXPECT_TRUE(cap.Contains("HDAServer::Release(1)"));
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
    EXPECT_TRUE(AllServersDestroyed());
}

// Fails the n-th allocation of call() for growing n until it succeeds;
// after each refused attempt, refused() checks that nothing was handed out
// or changed. The final result.
template <typename Call, typename Check>
HRESULT UntilEnoughMemory(const char *what, Call call, Check refused)
{
    for (long n = 0; n < 50; ++n) {
        HRESULT hr;
        {
            AllocFailure fail(n);
            hr = call();
        }
        if (hr != E_OUTOFMEMORY)
            return hr;
        refused();
    }
    ADD_FAILURE() << what << " never succeeded";
    return E_FAIL;
}

TEST_F(Browser, OutOfMemoryChangesNothingAndLeavesNothing)
{
    ASSERT_EQ(browser->ChangeBrowsePosition(kDown, L"A"), S_OK);
    long long live = LiveAllocations();

    IEnumString *e = nullptr;
    EXPECT_EQ(UntilEnoughMemory(
                  "GetEnum", [&] { return browser->GetEnum(OPCHDA_FLAT, &e); },
                  [&] { EXPECT_EQ(e, nullptr); }),
              S_OK);
    ASSERT_NE(e, nullptr);
    IEnumString *clone = nullptr;
    EXPECT_EQ(UntilEnoughMemory(
                  "Clone", [&] { return e->Clone(&clone); }, [&] { EXPECT_EQ(clone, nullptr); }),
              S_OK);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(Drain(clone), (Strings{"A.B.C", "A.B.E", "A.D"}));
    clone->Release();
    e->Release();

    EXPECT_EQ(UntilEnoughMemory(
                  "ChangeBrowsePosition",
                  [&] { return browser->ChangeBrowsePosition(kDown, L"B"); },
                  [&] { EXPECT_EQ(BranchPosition(browser), "A"); }),
              S_OK);
    EXPECT_EQ(BranchPosition(browser), "A.B");
    LPWSTR id = nullptr;
    EXPECT_EQ(UntilEnoughMemory(
                  "GetItemID", [&] { return browser->GetItemID(L"C", &id); },
                  [&] { EXPECT_EQ(id, nullptr); }),
              S_OK);
    EXPECT_EQ(Take(id), "A.B.C");

    ASSERT_EQ(browser->ChangeBrowsePosition(kUp, nullptr), S_OK);
    EXPECT_EQ(LiveAllocations(), live);
}
