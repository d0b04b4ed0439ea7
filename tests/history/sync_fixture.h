// Tests of the synchronous interfaces through the in-process COM server: one
// client server object per test with its IOPCHDA_SyncRead and
// IOPCHDA_SyncUpdate, a TestHost as the callback object, and handle entries
// put into the client's handle list directly.
#pragma once

#include "com_fixture.h"

#include <optional>
#include <string>

#include "handle_entry.h"
#include "hda_values.h"
#include "test_host.h"

namespace zqtest {

// Attributes defined once per program.
constexpr DWORD kHistoryAttr = 0x0B;
constexpr DWORD kCurrentAttr = 0x02;

// A relative time text that does not resolve.
inline OPCHDA_TIME BadTime() { return TextTime(L"NOT A TIME"); }

class SyncTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        installed_.emplace(&host);
        ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
        server = static_cast<zq::HDAServer *>(unknown);
        ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read)),
                  S_OK);
        ASSERT_EQ(
            unknown->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void **>(&update)),
            S_OK);
    }

    void TearDown() override
    {
        if (update != nullptr)
            update->Release();
        if (read != nullptr)
            read->Release();
        if (unknown != nullptr)
            unknown->Release();
        EXPECT_TRUE(AllServersDestroyed());
        installed_.reset();
    }

    // Gives the client a handle entry for the server handle; the host sees
    // the item as ItemOf(serverHandle).
    void AddItem(OPCHANDLE serverHandle, OPCHANDLE clientHandle, BOOL canRead = TRUE,
                 BOOL canWrite = TRUE, std::string user = "Unknown")
    {
        server->Handles().Insert(serverHandle, MakeEntry(serverHandle, clientHandle, canRead,
                                                         canWrite, std::move(user)));
    }
    static void *ItemOf(OPCHANDLE serverHandle) { return zqtest::ItemOfServerHandle(serverHandle); }

    TestHost host;
    IUnknown *unknown = nullptr;
    zq::HDAServer *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    IOPCHDA_SyncUpdate *update = nullptr;

private:
    std::optional<HostInstalled> installed_;
};

// Out pointers start as this non-null marker, so that a test sees whether
// a method set them.
template <typename T> T *Unset() { return reinterpret_cast<T *>(1); }

// Result arrays as a client receives them, freed the client's way.
template <typename Record, void (*FreeRecords)(Record *, DWORD)> struct ResultsOut
{
    explicit ResultsOut(DWORD n) : count(n) {}
    ResultsOut(const ResultsOut &) = delete;
    ResultsOut &operator=(const ResultsOut &) = delete;
    ~ResultsOut() { Free(); }
    void Free()
    {
        if (records != Unset<Record>())
            FreeRecords(records, count);
        if (errors != Unset<HRESULT>())
            CoTaskMemFree(errors);
        records = nullptr;
        errors = nullptr;
    }
    bool BothNull() const { return records == nullptr && errors == nullptr; }

    Record *records = Unset<Record>();
    HRESULT *errors = Unset<HRESULT>();
    DWORD count;
};
using ReadOut = ResultsOut<OPCHDA_ITEM, FreeItems>;
using AttributeOut = ResultsOut<OPCHDA_ATTRIBUTE, FreeAttributes>;

struct ErrorsOut
{
    ErrorsOut() = default;
    ErrorsOut(const ErrorsOut &) = delete;
    ErrorsOut &operator=(const ErrorsOut &) = delete;
    ~ErrorsOut()
    {
        if (errors != Unset<HRESULT>())
            CoTaskMemFree(errors);
    }
    HRESULT *errors = Unset<HRESULT>();
};

} // namespace zqtest
