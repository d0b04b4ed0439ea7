// Concurrent browsing across processes: browsers and string enumerators made
// and let go of on several client threads at once, for long enough that a
// server whose interface registrations go to zero and back (the last stub of
// a browser or enumerator going away while others are being marshalled)
// would hang. Bounded: a hang fails the test and ends the server.
#include "e2e_fixture.h"

#include <atomic>
#include <thread>

using namespace e2e;

namespace {

// One client thread's loop: browser, enumerator of every kind, names,
// releases. Counts rounds; stops at the deadline or on a failed call.
void BrowseUntil(IOPCHDA_Server *server, DWORD deadline, std::atomic<long> *rounds,
                 std::atomic<long> *failures)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const OPCHDA_BROWSETYPE kinds[] = {OPCHDA_BRANCH, OPCHDA_LEAF, OPCHDA_FLAT, OPCHDA_ITEMS};
    for (long i = 0; static_cast<LONG>(deadline - GetTickCount()) > 0; ++i) {
        IOPCHDA_Browser *browser = nullptr;
        HRESULT *errors = nullptr;
        // No filters, but the arrays go over the wire as reference pointers.
        DWORD attr = 0;
        OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
        VARIANT filter;
        VariantInit(&filter);
        if (FAILED(server->CreateBrowse(0, &attr, &op, &filter, &browser, &errors)) ||
            browser == nullptr) {
            ++*failures;
            break;
        }
        CoTaskMemFree(errors);
        IEnumString *names = nullptr;
        if (SUCCEEDED(browser->GetEnum(kinds[i % 4], &names)) && names != nullptr) {
            LPOLESTR got[8] = {};
            ULONG n = 0;
            names->Next(8, got, &n);
            for (ULONG k = 0; k < n; ++k)
                CoTaskMemFree(got[k]);
            names->Release();
        }
        browser->Release();
        ++*rounds;
    }
    CoUninitialize();
}

} // namespace

TEST(EndToEndStress, ConcurrentBrowsingOfOneClientNeverHangsTheServer)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    constexpr int kThreads = 4;
    constexpr DWORD kRunMs = 30000;
    const DWORD deadline = GetTickCount() + kRunMs;
    std::atomic<long> rounds{0}, failures{0}, finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            BrowseUntil(c.server, deadline, &rounds, &failures);
            ++finished;
        });
    }
    // Every thread ends by the deadline unless the server hangs.
    const DWORD limit = GetTickCount() + kRunMs + 60000;
    while (finished.load() < kThreads && static_cast<LONG>(limit - GetTickCount()) > 0)
        Sleep(100);
    const bool hung = finished.load() < kThreads;
    if (hung) {
        // The blocked calls fail once the server is gone.
        KillProcessesNamed("ZqHistorian.exe");
        KillProcessesNamed("rpcss.exe");
    }
    for (auto &t : threads)
        t.join();
    ASSERT_FALSE(hung) << "the server stopped answering after " << rounds.load() << " rounds";
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(rounds.load(), 100);
    // A new client still gets in.
    Client later;
    EXPECT_EQ(later.created, S_OK);
}
