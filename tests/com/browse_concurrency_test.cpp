// One client calling its server object and its browsers on several threads
// at once while the host defines and deletes items.
#include "server_fixture.h"

#include <atomic>
#include <thread>

using namespace zqtest;

namespace {

using Concurrency = ServerTest;

constexpr int kRounds = 300;
constexpr int kMoves = 3000;

} // namespace

TEST_F(Concurrency, HandlesAndBrowsingWhileTheHostChangesTheTree)
{
    for (int i = 0; i < 8; ++i)
        ASSERT_NE(DefineHDAItem(("Fixed.I" + std::to_string(i)).c_str()), zq::NoItemHandle());
    std::atomic<bool> hostDone{false};
    std::atomic<long> handleErrors{0}, browseErrors{0};

    std::thread host([&] {
        for (int i = 0; i < kRounds; ++i) {
            std::string id = "Moving.Area" + std::to_string(i % 5) + ".I" + std::to_string(i % 7);
            DefineHDAItem(id.c_str());
            if (i % 2 == 1)
                DeleteHDAItem(("Moving.Area" + std::to_string((i / 2) % 5)).c_str());
        }
        hostDone = true;
    });

    std::vector<std::thread> clients;
    for (int t = 0; t < 2; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                std::wstring a = L"Fixed.I" + std::to_wstring((i + t) % 8);
                std::wstring b = L"Moving.Area" + std::to_wstring(i % 5) + L".I" +
                                 std::to_wstring(i % 7);
                LPWSTR ids[2] = {&a[0], &b[0]};
                OPCHANDLE clients[2] = {static_cast<OPCHANDLE>(i), 0xFFFFFFFFu};
                OPCHANDLE *handles = nullptr;
                HRESULT *errors = nullptr;
                if (FAILED(server->GetItemHandles(2, ids, clients, &handles, &errors))) {
                    ++handleErrors;
                    continue;
                }
                // Release exactly the handles that were obtained.
                std::vector<OPCHANDLE> obtained;
                for (int k = 0; k < 2; ++k) {
                    if (errors[k] == S_OK)
                        obtained.push_back(handles[k]);
                    else if (errors[k] != OPC_E_UNKNOWNITEMID)
                        ++handleErrors;
                }
                CoTaskMemFree(handles);
                CoTaskMemFree(errors);
                HRESULT *released = nullptr;
                if (server->ReleaseItemHandles(static_cast<DWORD>(obtained.size()),
                                               obtained.data(), &released) != S_OK &&
                    !obtained.empty())
                    ++handleErrors;
                CoTaskMemFree(released);
            }
        });
    }
    // Browsers of their own, each walking the changing tree.
    for (int t = 0; t < 2; ++t) {
        clients.emplace_back([&] {
            for (int i = 0; i < kRounds / 3; ++i) {
                IOPCHDA_Browser *b = nullptr;
                HRESULT *errors = nullptr;
                if (server->CreateBrowse(0, nullptr, nullptr, nullptr, &b, &errors) != S_OK) {
                    ++browseErrors;
                    continue;
                }
                b->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT,
                                        (L"Moving.Area" + std::to_wstring(i % 5)).c_str());
                for (auto type : {OPCHDA_FLAT, OPCHDA_BRANCH, OPCHDA_LEAF}) {
                    IEnumString *e = nullptr;
                    if (b->GetEnum(type, &e) != S_OK) {
                        ++browseErrors;
                        continue;
                    }
                    Drain(e);
                    e->Release();
                }
                LPWSTR id = nullptr;
                if (SUCCEEDED(b->GetItemID(L"I1", &id)))
                    CoTaskMemFree(id);
                if (b->Release() != 0)
                    ++browseErrors;
            }
        });
    }
    for (auto &c : clients)
        c.join();
    host.join();
    EXPECT_TRUE(hostDone);
    EXPECT_EQ(handleErrors, 0);
    EXPECT_EQ(browseErrors, 0);
    EXPECT_EQ(ObjectOf(server).Handles().Size(), 0u);
    EXPECT_EQ(ObjectOf(server).RefCount(), 1);
    EXPECT_EQ(zq::HDABrowser::LiveObjects(), 0);
    EXPECT_EQ(zq::IOPCEnumString::LiveObjects(), 0);
}

TEST_F(Concurrency, OneBrowserMovedOnSeveralThreads)
{
    // A chain deep enough that no thread can run out of levels.
    std::string deep = "N";
    for (int i = 0; i < 12; ++i)
        deep += ".N";
    ASSERT_NE(DefineHDAItem(deep.c_str()), zq::NoItemHandle());
    IOPCHDA_Browser *b = Browse();
    ASSERT_NE(b, nullptr);
    constexpr int kThreads = 4;
    std::atomic<long> downs{0}, ups{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kMoves; ++i) {
                if (b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, L"N") == S_OK)
                    ++downs;
                LPWSTR s = nullptr;
                if (b->GetBranchPosition(&s) == S_OK)
                    CoTaskMemFree(s);
                if (b->ChangeBrowsePosition(OPCHDA_BROWSE_UP, nullptr) == S_OK)
                    ++ups;
                b->AddRef();
                b->Release();
            }
        });
    }
    for (auto &t : threads)
        t.join();
    // Every successful move counted exactly once: the depth left over is
    // the difference.
    long depth = downs - ups;
    ASSERT_GE(depth, 0);
    std::string expected = "Root";
    for (long i = 0; i < depth; ++i)
        expected = i == 0 ? "N" : expected + ".N";
    EXPECT_EQ(BranchPosition(b), expected);
    EXPECT_EQ(b->Release(), 0u);
}
