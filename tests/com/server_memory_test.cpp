// Task memory of IOPCHDA_Server, the browser and the string enumerator:
// every task allocation of every method refused in turn, and a whole client
// session that must leave nothing behind once the client freed its results.
#include "server_fixture.h"

#include "malloc_spy.h"

using namespace zqtest;

namespace {

class ServerMemory : public ServerTest
{
protected:
    void SetUp() override
    {
        spy = TaskMallocSpy::Instance();
        ASSERT_NE(spy, nullptr);
        ServerTest::SetUp();
        for (const char *id : {"A.B.C", "A.D", "A.B.E"})
            ASSERT_NE(DefineHDAItem(id), zq::NoItemHandle());
        ASSERT_EQ(DefineHDAAttribute(OPCHDA_DESCRIPTION, "Description", "Text", VT_BSTR, 0), 1);
        ASSERT_EQ(DefineHDAAttribute(OPCHDA_ENG_UNITS, "Units", "Unit", VT_BSTR, 0), 1);
        ASSERT_EQ(DefineHDAAggregate(OPCHDA_MAXIMUM, "Maximum", "Largest"), 1);
    }

    // Refuses the first, second, ... task allocation of run() in turn, until
    // a run makes fewer allocations than the one refused. Each run must leave
    // the outstanding task allocations as they were (run() frees what it is
    // handed, as a client does). The results, the last one with nothing
    // refused.
    template <typename Run> std::vector<HRESULT> EachAllocationRefused(Run run)
    {
        std::vector<HRESULT> results;
        for (long n = 1; n <= 20; ++n) {
            long before = spy->Outstanding();
            bool hit;
            {
                TaskAllocFailure fail(n);
                results.push_back(run());
                hit = fail.Hit();
            }
            EXPECT_EQ(spy->Outstanding(), before) << "allocation " << n;
            if (!hit)
                return results;
        }
        ADD_FAILURE() << "more than 20 allocations";
        return results;
    }

    TaskMallocSpy *spy = nullptr;
};

const HRESULT kOom = E_OUTOFMEMORY;
using Results = std::vector<HRESULT>;

} // namespace

TEST_F(ServerMemory, HistorianStatus)
{
    Results r = EachAllocationRefused([&] {
        OPCHDA_SERVERSTATUS status;
        FILETIME *now = nullptr, *started = nullptr;
        WORD w;
        DWORD max;
        LPWSTR text = nullptr, vendor = nullptr;
        HRESULT hr =
            server->GetHistorianStatus(&status, &now, &started, &w, &w, &w, &max, &text, &vendor);
        if (hr != S_OK) {
            EXPECT_TRUE(now == nullptr && started == nullptr && text == nullptr &&
                        vendor == nullptr);
        }
        for (void *p : {static_cast<void *>(now), static_cast<void *>(started),
                        static_cast<void *>(text), static_cast<void *>(vendor)})
            CoTaskMemFree(p);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, kOom, kOom, kOom, S_OK}));
}

TEST_F(ServerMemory, CataloguesKeepTheCountAndLeaveAFailedStringNull)
{
    int nullStrings = 0;
    Results r = EachAllocationRefused([&] {
        DWORD count = 0, *ids = nullptr;
        LPWSTR *names = nullptr, *descriptions = nullptr;
        VARTYPE *types = nullptr;
        HRESULT hr = server->GetItemAttributes(&count, &ids, &names, &descriptions, &types);
        EXPECT_EQ(count, 2u);
        if (hr == S_OK) {
            for (DWORD i = 0; i < count; ++i) {
                nullStrings += (names[i] == nullptr) + (descriptions[i] == nullptr);
                CoTaskMemFree(names[i]);
                CoTaskMemFree(descriptions[i]);
            }
        } else {
            EXPECT_TRUE(ids == nullptr && names == nullptr && descriptions == nullptr &&
                        types == nullptr);
        }
        for (void *p : {static_cast<void *>(ids), static_cast<void *>(names),
                        static_cast<void *>(descriptions), static_cast<void *>(types)})
            CoTaskMemFree(p);
        return hr;
    });
    // Four arrays, then four strings.
    EXPECT_EQ(r, (Results{kOom, kOom, kOom, kOom, S_OK, S_OK, S_OK, S_OK, S_OK}));
    EXPECT_EQ(nullStrings, 4);

    r = EachAllocationRefused([&] {
        DWORD count = 0, *ids = nullptr;
        LPWSTR *names = nullptr, *descriptions = nullptr;
        HRESULT hr = server->GetAggregates(&count, &ids, &names, &descriptions);
        EXPECT_EQ(count, 1u);
        if (hr == S_OK) {
            CoTaskMemFree(names[0]);
            CoTaskMemFree(descriptions[0]);
        } else {
            EXPECT_TRUE(ids == nullptr && names == nullptr && descriptions == nullptr);
        }
        CoTaskMemFree(ids);
        CoTaskMemFree(names);
        CoTaskMemFree(descriptions);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, kOom, kOom, S_OK, S_OK, S_OK}));
}

TEST_F(ServerMemory, HandleMethods)
{
    zq::HandleList &list = ObjectOf(server).Handles();
    WideIds ids{L"A.D", L"A.B.C"};
    OPCHANDLE clients[2] = {1, 2};
    OPCHANDLE obtained[2] = {};
    Results r = EachAllocationRefused([&] {
        OPCHANDLE *handles = reinterpret_cast<OPCHANDLE *>(1);
        HRESULT *errors = reinterpret_cast<HRESULT *>(1);
        HRESULT hr = server->GetItemHandles(2, ids.get(), clients, &handles, &errors);
        if (hr == S_OK) {
            obtained[0] = handles[0];
            obtained[1] = handles[1];
        } else {
            EXPECT_TRUE(handles == nullptr && errors == nullptr);
            EXPECT_EQ(list.Size(), 0u) << "no entry without results";
        }
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, kOom, S_OK}));
    ASSERT_EQ(list.Size(), 2u);

    r = EachAllocationRefused([&] {
        HRESULT *errors = reinterpret_cast<HRESULT *>(1);
        HRESULT hr = server->ValidateItemIDs(2, ids.get(), &errors);
        if (hr != S_OK) {
            EXPECT_EQ(errors, nullptr);
        }
        CoTaskMemFree(errors);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, S_OK}));

    r = EachAllocationRefused([&] {
        HRESULT *errors = reinterpret_cast<HRESULT *>(1);
        HRESULT hr = server->ReleaseItemHandles(2, obtained, &errors);
        if (hr != S_OK) {
            EXPECT_EQ(errors, nullptr);
            EXPECT_EQ(list.Size(), 2u) << "nothing released without results";
        }
        CoTaskMemFree(errors);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, S_OK}));
    EXPECT_EQ(list.Size(), 0u);
}

TEST_F(ServerMemory, BrowserAndEnumerator)
{
    DWORD attributes[3] = {1, 2, 3};
    Results r = EachAllocationRefused([&] {
        IOPCHDA_Browser *b = reinterpret_cast<IOPCHDA_Browser *>(1);
        HRESULT *errors = reinterpret_cast<HRESULT *>(1);
        HRESULT hr = server->CreateBrowse(3, attributes, nullptr, nullptr, &b, &errors);
        if (hr == S_OK) {
            b->Release();
        } else {
            EXPECT_TRUE(b == nullptr && errors == nullptr);
            EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
        }
        CoTaskMemFree(errors);
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, S_OK}));

    IOPCHDA_Browser *browser = Browse();
    ASSERT_EQ(browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, L"A"), S_OK);
    for (int method = 0; method < 2; ++method) {
        r = EachAllocationRefused([&] {
            LPWSTR text = reinterpret_cast<LPWSTR>(1);
            HRESULT hr = method == 0 ? browser->GetBranchPosition(&text)
                                     : browser->GetItemID(L"D", &text);
            if (hr != S_OK) {
                EXPECT_EQ(text, nullptr);
            }
            CoTaskMemFree(text);
            return hr;
        });
        EXPECT_EQ(r, (Results{kOom, S_OK})) << method;
    }

    IEnumString *names = nullptr;
    ASSERT_EQ(browser->GetEnum(OPCHDA_FLAT, &names), S_OK);
    browser->Release();
    r = EachAllocationRefused([&] {
        LPOLESTR slots[3] = {};
        ULONG fetched = 99;
        HRESULT hr = names->Next(3, slots, &fetched);
        if (hr != S_OK) {
            EXPECT_EQ(fetched, 0u);
            EXPECT_TRUE(slots[0] == nullptr && slots[1] == nullptr && slots[2] == nullptr)
                << "every string of the refused call freed";
        } else {
            EXPECT_EQ(Take(slots[0]) + Take(slots[1]) + Take(slots[2]), "A.B.CA.B.EA.D")
                << "a refused call does not move the cursor";
        }
        return hr;
    });
    EXPECT_EQ(r, (Results{kOom, kOom, kOom, S_OK}));
    names->Release();
}

TEST_F(ServerMemory, AClientSessionLeavesNothingBehind)
{
    long before = spy->Outstanding();
    {
        IOPCHDA_Server *other = nullptr;
        ASSERT_EQ(CreateServer(IID_IOPCHDA_Server, reinterpret_cast<void **>(&other)), S_OK);
        WideIds ids{L"A.D", L"A.X"};
        OPCHANDLE clients[2] = {7, 8};
        OPCHANDLE *handles = nullptr;
        HRESULT *errors = nullptr;
        ASSERT_EQ(other->GetItemHandles(2, ids.get(), clients, &handles, &errors), S_FALSE);
        CoTaskMemFree(errors);
        // The handles stay with the client: destroying it frees them.
        CoTaskMemFree(handles);

        IOPCHDA_Browser *b = nullptr;
        ASSERT_EQ(other->CreateBrowse(2, nullptr, nullptr, nullptr, &b, &errors), S_OK);
        CoTaskMemFree(errors);
        EXPECT_EQ(List(b, OPCHDA_FLAT).size(), 3u);
        ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, L"A.B"), S_OK);
        EXPECT_EQ(BranchPosition(b), "A.B");
        IEnumString *e = nullptr, *clone = nullptr;
        ASSERT_EQ(b->GetEnum(OPCHDA_LEAF, &e), S_OK);
        LPOLESTR first = nullptr;
        ASSERT_EQ(e->Next(1, &first, nullptr), S_OK);
        CoTaskMemFree(first);
        ASSERT_EQ(e->Clone(&clone), S_OK);
        EXPECT_EQ(Drain(clone), Strings{"E"});
        clone->Release();
        e->Release();
        other->Release();
        EXPECT_EQ(b->Release(), 0u);
    }
    EXPECT_TRUE(TickUntil([] { return zq::HDAServer::LiveObjects() == 1; }))
        << "only the fixture's client is left";
    EXPECT_EQ(spy->Outstanding(), before);
}
