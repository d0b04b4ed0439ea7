// Tests of the synchronous interfaces through the in-process COM server: one
// client server object per test with its IOPCHDA_SyncRead and
// IOPCHDA_SyncUpdate, a TestHost as the callback object, and handle entries
// put into the client's handle list directly.
#pragma once

#include "com_fixture.h"

#include <optional>
#include <string>

#include "hda_values.h"
#include "history/item_check.h"
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
        zq::HandleEntry e;
        e.clientHandle = clientHandle;
        e.itemHandle = zq::ItemHandleOf(serverHandle);
        e.readAllowed = canRead;
        e.writeAllowed = canWrite;
        e.userName = std::move(user);
        server->Handles().Add(std::move(e));
    }
    static void *ItemOf(OPCHANDLE serverHandle) { return zq::ItemHandleOf(serverHandle); }

    TestHost host;
    IUnknown *unknown = nullptr;
    zq::HDAServer *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    IOPCHDA_SyncUpdate *update = nullptr;

private:
    std::optional<HostInstalled> installed_;
};

// Result arrays as a client receives them, freed the client's way.
struct ReadOut
{
    OPCHDA_ITEM *items = reinterpret_cast<OPCHDA_ITEM *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    DWORD count = 0;
    explicit ReadOut(DWORD n) : count(n) {}
    ReadOut(const ReadOut &) = delete;
    ReadOut &operator=(const ReadOut &) = delete;
    ~ReadOut() { Free(); }
    void Free()
    {
        if (items != reinterpret_cast<OPCHDA_ITEM *>(1))
            FreeItems(items, count);
        if (errors != reinterpret_cast<HRESULT *>(1))
            CoTaskMemFree(errors);
        items = nullptr;
        errors = nullptr;
    }
    bool BothNull() const { return items == nullptr && errors == nullptr; }
};

struct AttributeOut
{
    OPCHDA_ATTRIBUTE *attributes = reinterpret_cast<OPCHDA_ATTRIBUTE *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    DWORD count = 0;
    explicit AttributeOut(DWORD n) : count(n) {}
    AttributeOut(const AttributeOut &) = delete;
    AttributeOut &operator=(const AttributeOut &) = delete;
    ~AttributeOut() { Free(); }
    void Free()
    {
        if (attributes != reinterpret_cast<OPCHDA_ATTRIBUTE *>(1))
            FreeAttributes(attributes, count);
        if (errors != reinterpret_cast<HRESULT *>(1))
            CoTaskMemFree(errors);
        attributes = nullptr;
        errors = nullptr;
    }
    bool BothNull() const { return attributes == nullptr && errors == nullptr; }
};

struct ErrorsOut
{
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    ErrorsOut() = default;
    ErrorsOut(const ErrorsOut &) = delete;
    ErrorsOut &operator=(const ErrorsOut &) = delete;
    ~ErrorsOut() { Free(); }
    void Free()
    {
        if (errors != reinterpret_cast<HRESULT *>(1))
            CoTaskMemFree(errors);
        errors = nullptr;
    }
};

} // namespace zqtest
