// Benchmarks 2 and 6: the address space at scale, and its memory.
//
// 2. DefineHDAItem, GetItemHandles, ValidateItemIDs, ReleaseItemHandles and
//    the browser's ChangeBrowsePosition, GetItemID and GetEnum for 1,000 to
//    1,000,000 items, flat (all under one branch) and deep (four levels):
//    the time per item, against the time per item at 1,000.
// 6. Bytes per item in the tree and per handle entry at 1,000,000 items,
//    counted by this program's own operator new.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "addrspace/item_registry.h"
#include "bench_util.h"
#include "inproc_server.h"

using namespace zqbench;

// --- Counting operator new -----------------------------------------------------
// Every block carries its size in front, so that delete can count it back.

namespace {
std::atomic<long long> g_bytes{0};
std::atomic<long long> g_blocks{0};
constexpr size_t kHeader = 8;

void *CountedAlloc(size_t size) noexcept
{
    void *p = std::malloc(size + kHeader);
    if (p == nullptr)
        return nullptr;
    *static_cast<size_t *>(p) = size;
    g_bytes += static_cast<long long>(size);
    ++g_blocks;
    return static_cast<char *>(p) + kHeader;
}

void CountedFree(void *p) noexcept
{
    if (p == nullptr)
        return;
    // Through an integer: the compiler then does not tie the block to the
    // (replaced) operator new's result it may see inlined here.
    void *block = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(p) - kHeader);
    g_bytes -= static_cast<long long>(*static_cast<size_t *>(block));
    --g_blocks;
    std::free(block);
}
} // namespace

void *operator new(size_t size)
{
    void *p = CountedAlloc(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return CountedAlloc(size); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return CountedAlloc(size); }
void operator delete(void *p) noexcept { CountedFree(p); }
void operator delete[](void *p) noexcept { CountedFree(p); }
void operator delete(void *p, size_t) noexcept { CountedFree(p); }
void operator delete[](void *p, size_t) noexcept { CountedFree(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { CountedFree(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { CountedFree(p); }

namespace {

struct Snapshot
{
    long long bytes = g_bytes.load();
    long long blocks = g_blocks.load();
};

// Heap cost of the blocks allocated since `before`: the bytes asked for,
// plus an estimate of the heap's own cost (8 bytes of header per block and
// rounding to 8 bytes).
struct MemoryUse
{
    double requested;
    double withHeap;
};
MemoryUse Since(const Snapshot &before, size_t items)
{
    Snapshot now;
    double bytes = static_cast<double>(now.bytes - before.bytes);
    double blocks = static_cast<double>(now.blocks - before.blocks);
    return {bytes / items, (bytes + blocks * 12.0) / items};
}

// --- Address spaces ------------------------------------------------------------

struct Space
{
    std::string name;
    std::vector<std::string> ids;
    // Per item: the path of its branch and its browse name.
    std::vector<std::string> branchOf;
    std::vector<std::string> leafOf;
};

Space Flat(size_t n)
{
    Space s{"flat", {}, {}, {}};
    char text[64];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(text, sizeof text, "Historian.Tag%07u", static_cast<unsigned>(i));
        s.ids.push_back(text);
        s.branchOf.push_back("Historian");
        s.leafOf.push_back(text + 10);
    }
    return s;
}

// Four levels: Site.Area.Unit.Tag with the same fan-out f at every level,
// f^4 >= n, items spread over the units.
Space Deep(size_t n)
{
    Space s{"deep", {}, {}, {}};
    size_t f = static_cast<size_t>(std::ceil(std::pow(static_cast<double>(n), 0.25)));
    char branch[64], tag[32];
    for (size_t i = 0; i < n; ++i) {
        size_t unit = i % (f * f * f);
        std::snprintf(branch, sizeof branch, "Site%02u.Area%02u.Unit%02u",
                      static_cast<unsigned>(unit / (f * f)), static_cast<unsigned>(unit / f % f),
                      static_cast<unsigned>(unit % f));
        std::snprintf(tag, sizeof tag, "Tag%07u", static_cast<unsigned>(i));
        s.ids.push_back(std::string(branch) + "." + tag);
        s.branchOf.push_back(branch);
        s.leafOf.push_back(tag);
    }
    return s;
}

void DefineAll(const Space &s)
{
    for (const auto &id : s.ids)
        if (DefineHDAItem(id.c_str()) == ZQHDA_INVALID_ITEM)
            std::fprintf(stderr, "define failed: %s\n", id.c_str());
}

int RepsFor(size_t n)
{
    if (n >= 1000000)
        return Repetitions(3);
    if (n >= 100000)
        return Repetitions(5);
    return Repetitions(11);
}

// The operations of one address space, each as seconds per item.
std::map<std::string, double> Measure(const Space &s, IOPCHDA_Server *server)
{
    std::map<std::string, double> perItem;
    const size_t n = s.ids.size();
    const int reps = RepsFor(n);
    WideIdList wide(s.ids);
    std::vector<OPCHANDLE> clientHandles(n);
    for (size_t i = 0; i < n; ++i)
        clientHandles[i] = static_cast<OPCHANDLE>(i);

    // Define: the tree is emptied before each repetition.
    std::vector<double> times;
    for (int r = 0; r < reps; ++r) {
        zq::ClearItemTree();
        times.push_back(TimeOnce([&] { DefineAll(s); }));
    }
    perItem["DefineHDAItem"] = Median(times) / n;

    // GetItemHandles then ReleaseItemHandles of all of them, repeatedly.
    std::vector<double> get, release;
    for (int r = 0; r < reps; ++r) {
        OPCHANDLE *handles = nullptr;
        HRESULT *errors = nullptr;
        get.push_back(TimeOnce([&] {
            if (server->GetItemHandles(wide.size(), wide.get(), clientHandles.data(), &handles,
                                       &errors) != S_OK)
                std::fprintf(stderr, "GetItemHandles failed\n");
        }));
        CoTaskMemFree(errors);
        errors = nullptr;
        release.push_back(TimeOnce([&] {
            if (server->ReleaseItemHandles(wide.size(), handles, &errors) != S_OK)
                std::fprintf(stderr, "ReleaseItemHandles failed\n");
        }));
        CoTaskMemFree(errors);
        CoTaskMemFree(handles);
    }
    perItem["GetItemHandles"] = Median(get) / n;
    perItem["ReleaseItemHandles"] = Median(release) / n;

    perItem["ValidateItemIDs"] = MedianTime(reps, [&] {
        HRESULT *errors = nullptr;
        if (server->ValidateItemIDs(wide.size(), wide.get(), &errors) != S_OK)
            std::fprintf(stderr, "ValidateItemIDs failed\n");
        CoTaskMemFree(errors);
    }) / n;

    IOPCHDA_Browser *browser = nullptr;
    HRESULT *filterErrors = nullptr;
    server->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &filterErrors);
    CoTaskMemFree(filterErrors);

    // ChangeBrowsePosition: directly to every item, by its full ID.
    const int browseReps = reps < 3 ? reps : 3;
    perItem["ChangeBrowsePosition"] = MedianTime(browseReps, [&] {
        for (size_t i = 0; i < n; ++i)
            if (browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, wide.get()[i]) != S_OK)
                std::fprintf(stderr, "ChangeBrowsePosition failed\n");
    }) / n;

    // GetItemID: every item's browse name at its branch (items are visited
    // branch by branch).
    std::map<std::string, std::vector<std::wstring>> byBranch;
    for (size_t i = 0; i < n; ++i)
        byBranch[s.branchOf[i]].push_back(Wide(s.leafOf[i]));
    perItem["GetItemID"] = MedianTime(browseReps, [&] {
        for (auto &branch : byBranch) {
            browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, Wide(branch.first).c_str());
            for (auto &leaf : branch.second) {
                LPWSTR id = nullptr;
                if (browser->GetItemID(leaf.c_str(), &id) != S_OK)
                    std::fprintf(stderr, "GetItemID failed\n");
                CoTaskMemFree(id);
            }
        }
    }) / n;

    // GetEnum: the flat listing of the whole tree from the root, fetched in
    // chunks of 1,000 names; for the flat space also the leaf listing of its
    // one branch.
    auto listing = [&](OPCHDA_BROWSETYPE type, const wchar_t *at) {
        browser->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, at);
        IEnumString *e = nullptr;
        browser->GetEnum(type, &e);
        std::vector<LPOLESTR> chunk(1000);
        ULONG got = 0;
        size_t total = 0;
        while (e->Next(1000, chunk.data(), &got), got > 0) {
            total += got;
            for (ULONG k = 0; k < got; ++k)
                CoTaskMemFree(chunk[k]);
        }
        e->Release();
        if (total != n)
            std::fprintf(stderr, "listing has %u names\n", static_cast<unsigned>(total));
    };
    perItem["GetEnum flat + Next"] =
        MedianTime(browseReps, [&] { listing(OPCHDA_FLAT, L""); }) / n;
    if (s.name == "flat")
        perItem["GetEnum leaf + Next"] =
            MedianTime(browseReps, [&] { listing(OPCHDA_LEAF, L"Historian"); }) / n;
    browser->Release();
    return perItem;
}

void Memory(IOPCHDA_Server *server, const Space &s)
{
    zq::ClearItemTree();
    const size_t n = s.ids.size();
    Snapshot before;
    DefineAll(s);
    MemoryUse tree = Since(before, n);
    Report("6 memory", s.name + " tree, " + std::to_string(n) + " items",
           Format("%.0f bytes per item", tree.withHeap) +
               Format(" (%.0f asked of the heap)", tree.requested));

    WideIdList wide(s.ids);
    std::vector<OPCHANDLE> clientHandles(n, 1);
    OPCHANDLE *handles = nullptr;
    HRESULT *errors = nullptr;
    Snapshot beforeHandles;
    server->GetItemHandles(wide.size(), wide.get(), clientHandles.data(), &handles, &errors);
    MemoryUse entries = Since(beforeHandles, n);
    Report("6 memory", "handle entries, " + std::to_string(n) + " handles",
           Format("%.0f bytes per entry", entries.withHeap) +
               Format(" (%.0f asked of the heap)", entries.requested));
    CoTaskMemFree(errors);
    errors = nullptr;
    server->ReleaseItemHandles(wide.size(), handles, &errors);
    CoTaskMemFree(errors);
    CoTaskMemFree(handles);
    zq::ClearItemTree();
}

} // namespace

int main(int argc, char **argv)
{
    if (!StartBenchmark(argc, argv))
        return 2;
    IOPCHDA_Server *server = CreateClient<IOPCHDA_Server>(IID_IOPCHDA_Server);
    if (server == nullptr) {
        std::fprintf(stderr, "no client\n");
        return 2;
    }
    const size_t sizes[] = {1000, 10000, 100000, 1000000};
    for (auto make : {Flat, Deep}) {
        std::map<std::string, double> first;
        std::map<std::string, double> last;
        size_t lastSize = 0;
        std::string name;
        for (size_t n : sizes) {
            if (n > MaxItems())
                break;
            Space s = make(n);
            name = s.name;
            std::map<std::string, double> perItem = Measure(s, server);
            zq::ClearItemTree();
            for (auto &op : perItem)
                Report("2 address space", s.name + " " + std::to_string(n) + ": " + op.first,
                       PerUnit(op.second) + " per item");
            if (first.empty())
                first = perItem;
            last = perItem;
            lastSize = n;
            if (n == 100000 && s.name == "flat") {
                double t = perItem["GetItemHandles"] * n;
                Report("2 address space", "GetItemHandles of 100,000 flat items",
                       Format("%.3f s", t), "< 0.25 s", Met(t < 0.25));
            }
        }
        if (lastSize > 1000) {
            for (auto &op : last) {
                double ratio = op.second / first[op.first];
                Report("2 address space",
                       name + " per-item ratio " + std::to_string(lastSize) + " / 1000: " + op.first,
                       Format("%.2f", ratio), "<= 2", Met(ratio <= 2.0));
            }
        }
    }
    size_t memoryItems = MaxItems() < 1000000 ? MaxItems() : 1000000;
    Memory(server, Flat(memoryItems));
    Memory(server, Deep(memoryItems));
    server->Release();
    return 0;
}
