// What the historian refuses across processes to protect itself and its
// clients: a reply larger than one reply may carry, a text that would be
// stored as a different number, and a subscription without windows. And
// that the largest reply it does allow gets through.
#include "e2e_fixture.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>

using namespace e2e;

namespace {

constexpr DWORD kReplyBound = 1000000;

// The historian's private bytes (-1 when they cannot be read).
double HistorianMemory()
{
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, HistorianProcess());
    if (process == nullptr)
        return -1;
    PROCESS_MEMORY_COUNTERS_EX c{};
    c.cb = sizeof c;
    BOOL ok = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&c), sizeof c);
    CloseHandle(process);
    // PagefileUsage: the private bytes on Windows, and what Wine fills in.
    return ok ? static_cast<double>(c.PagefileUsage) : -1;
}

DWORD MaxReturnValues(Client &c)
{
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *started = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD maxValues = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    HRESULT hr = c.server->GetHistorianStatus(&status, &now, &started, &major, &minor, &build,
                                              &maxValues, &text, &vendor);
    CoTaskMemFree(now);
    CoTaskMemFree(started);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
    return hr == S_OK ? maxValues : 0;
}

struct Processed
{
    HRESULT hr = E_FAIL;
    std::vector<HRESULT> codes;
    std::vector<Values> values;
};

Processed ReadAverages(Client &c, std::vector<OPCHANDLE> handles, uint64_t from, uint64_t to,
                       uint64_t interval)
{
    OPCHDA_TIME s = Absolute(from), e = Absolute(to);
    std::vector<DWORD> aggregates(handles.size(), OPCHDA_AVERAGE);
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    const DWORD n = static_cast<DWORD>(handles.size());
    Processed out;
    out.hr = c.read->ReadProcessed(&s, &e, Ft(interval), n, handles.data(), aggregates.data(),
                                   &items, &errors);
    if (FAILED(out.hr))
        return out;
    for (DWORD i = 0; i < n; ++i) {
        out.codes.push_back(errors[i]);
        out.values.push_back(Copy(items[i]));
    }
    FreeItems(items, n);
    CoTaskMemFree(errors);
    return out;
}

} // namespace

TEST(EndToEndLimits, AReplyBeyondTheBoundIsRefusedAtOnceAndOneAtTheBoundArrives)
{
    // The historian of an earlier case may still be ending: the one measured
    // below is the one this client starts.
    ASSERT_TRUE(HistorianGone(60000));
    Client c;
    ASSERT_EQ(c.created, S_OK);
    EXPECT_EQ(MaxReturnValues(c), kReplyBound) << "the historian sets no limit of its own";
    std::vector<OPCHANDLE> h = c.Handles({kFlow, kTemp});

    // 10 s in intervals of 100 ns: 10^8 intervals for each item.
    const double before = HistorianMemory();
    Processed huge = ReadAverages(c, h, At(0), At(10), 1);
    ASSERT_EQ(huge.hr, S_FALSE);
    EXPECT_EQ(huge.codes, (std::vector<HRESULT>{OPC_E_MAXEXCEEDED, OPC_E_MAXEXCEEDED}));
    EXPECT_TRUE(huge.values[0].times.empty());
    const double after = HistorianMemory();
    ASSERT_GT(before, 0);
    // Nothing of the size of the reply was ever made (a tenth of it would
    // be 400 MB or more).
    EXPECT_LT(after - before, 32e6) << before << " -> " << after;

    // Exactly the bound, for one item: a million averages of 10 us.
    Processed full = ReadAverages(c, {h[0]}, At(0), At(10), 100);
    ASSERT_EQ(full.hr, S_OK);
    ASSERT_EQ(full.values[0].times.size(), kReplyBound);
    EXPECT_EQ(full.values[0].times[0], At(0));
    EXPECT_EQ(full.values[0].times[kReplyBound - 1], At(10) - 100);
    // The same million for both items is more than one reply: the second
    // item is refused, the first keeps its values.
    Processed two = ReadAverages(c, h, At(0), At(10), 100);
    ASSERT_EQ(two.hr, S_FALSE);
    EXPECT_EQ(two.codes, (std::vector<HRESULT>{S_OK, OPC_E_MAXEXCEEDED}));
    EXPECT_EQ(two.values[0].times.size(), kReplyBound);
    EXPECT_TRUE(two.values[1].times.empty());
}

TEST(EndToEndLimits, ANumberWithTextAfterANulIsNotStored)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE level = c.Handles({kLevel})[0];
    FILETIME t = Ft(At(410));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(L"12\0junk", 7);
    DWORD quality = 0xC0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.update->Insert(1, &level, &t, &value, &quality, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_BADTYPE);
    CoTaskMemFree(errors);
    Values v;
    EXPECT_EQ(ReadRaw(c, level, Absolute(At(410)), Absolute(At(410)), 0, FALSE, &v), OPC_S_NODATA);

    // The same text without what follows the NUL is the number 12.
    VariantClear(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"12");
    ASSERT_EQ(c.update->Insert(1, &level, &t, &value, &quality, &errors), S_OK);
    EXPECT_EQ(errors[0], OPC_S_INSERTED);
    CoTaskMemFree(errors);
    VariantClear(&value);
    ASSERT_EQ(ReadRaw(c, level, Absolute(At(410)), Absolute(At(410)), 0, FALSE, &v), S_OK);
    ASSERT_EQ(v.numbers.size(), 1u);
    EXPECT_EQ(v.numbers[0], 12.0);
    ASSERT_EQ(c.update->DeleteAtTime(1, &level, &t, &errors), S_OK);
    CoTaskMemFree(errors);
}

TEST(EndToEndLimits, ARawSubscriptionWithoutAnIntervalIsRefused)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE flow = c.Handles({kFlow})[0];
    IOPCHDA_AsyncRead *async = nullptr;
    ASSERT_EQ(c.server->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async)), S_OK);
    OPCHDA_TIME start = Absolute(At(0));
    DWORD cancel = 5;
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(async->AdviseRaw(1, &start, Ft(0), 1, &flow, &cancel, &errors), E_INVALIDARG);
    EXPECT_EQ(cancel, 0u);
    EXPECT_EQ(errors, nullptr);
    async->Release();
}

// Reads with [in, out] times, many times over: the historian keeps nothing
// per call. A loss per call shows in every round; the heap's own growth (a
// new segment now and then) in one round at most.
TEST(EndToEndLimits, ReadsWithTimesLeaveNothingBehindInTheServer)
{
    ASSERT_TRUE(HistorianGone(60000));
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE flow = c.Handles({kFlow})[0];
    auto reads = [&](int n) {
        for (int i = 0; i < n; ++i) {
            Values v;
            if (ReadRaw(c, flow, Absolute(At(0)), Absolute(At(30)), 2, FALSE, &v) != OPC_S_MOREDATA)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(reads(2000));
    std::vector<double> growth;
    for (int round = 0; round < 2; ++round) {
        const double before = HistorianMemory();
        ASSERT_TRUE(reads(5000));
        const double after = HistorianMemory();
        ASSERT_GT(before, 0);
        growth.push_back(after - before);
    }
    // 128 bytes per call would be 640 kB in each round.
    EXPECT_LT(std::min(growth[0], growth[1]), 256e3) << growth[0] << ", " << growth[1];
}
