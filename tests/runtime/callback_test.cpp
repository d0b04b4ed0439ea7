// The callback object: defaults, plain-callback forwarding and which object
// the engines use after each kind of installation.
#include <gtest/gtest.h>

#include "opchda_constants.h"
#include "runtime/server_state.h"

namespace {

FILETIME Ft(DWORD lo) { return FILETIME{lo, 0}; }

// Restores "nothing installed" after each test.
class Callbacks : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EnableGetTimeStampCallback(nullptr);
        EnableReadAtCallback(nullptr);
        EnableInsertCallback(nullptr);
        EnableQueryUpdateCapabilitiesCallback(nullptr);
        EnableGetPreviousTimeStampCallback(nullptr);
        EnableDeleteRawCallback(nullptr);
        SetHDAServerCallback(nullptr);
    }
    CZqHDACallback &def = zq::State().defaultCallback;
};

// Recorded arguments of the plain callbacks below.
struct Seen
{
    void *item = nullptr;
    FILETIME time{};
    int maxCount = -1;
    char *user = nullptr;
    OPCHDA_TIME *start = nullptr;
} g_seen;

void __stdcall ReadAt42(void *item, FILETIME time, VARIANT *value, unsigned long *quality,
                        long *result)
{
    g_seen.item = item;
    g_seen.time = time;
    value->vt = VT_I4;
    value->lVal = 42;
    *quality = 0xC0;
    *result = S_OK;
}

void __stdcall SevenStamps(void *item, FILETIME *, FILETIME *, int maxCount, FILETIME *, int *result)
{
    g_seen.item = item;
    g_seen.maxCount = maxCount;
    *result = 7;
}

void __stdcall InsertedCode(char *user, void *item, FILETIME, VARIANT *, unsigned long, long *result)
{
    g_seen.user = user;
    g_seen.item = item;
    *result = OPC_S_INSERTED;
}

void __stdcall Caps(OPCHDA_UPDATECAPABILITIES *caps, long *result)
{
    *caps = static_cast<OPCHDA_UPDATECAPABILITIES>(OPCHDA_INSERTCAP | OPCHDA_DELETERAWCAP);
    *result = S_OK;
}

void __stdcall SilentPrevious(void *, FILETIME, FILETIME *, long *) {}

void __stdcall DeleteRawSeen(char *, void *, OPCHDA_TIME *start, OPCHDA_TIME *, long *result)
{
    g_seen.start = start;
    *result = S_OK;
}

class HostObject : public CZqHDACallback
{
public:
    int readAts = 0;
    long ReadAt(void *, FILETIME, VARIANT *, unsigned long *, ULONG_PTR context) override
    {
        ++readAts;
        lastContext = context;
        return S_OK;
    }
    unsigned long lastContext = 99;
};

} // namespace

TEST_F(Callbacks, DefaultsWithoutPlainCallbacksTouchNoOutput)
{
    FILETIME stamp = Ft(123);
    VARIANT v;
    VariantInit(&v);
    unsigned long q = 77;
    ULONG_PTR ctx = 5;
    EXPECT_EQ(def.GetTimeStamps(nullptr, nullptr, nullptr, 0, nullptr, &ctx), 0);
    EXPECT_EQ(def.GetPreviousTimeStamp(nullptr, Ft(1), &stamp, 0), OPC_S_NODATA);
    EXPECT_EQ(def.GetNextTimeStamp(nullptr, Ft(1), &stamp, 0), OPC_S_NODATA);
    EXPECT_EQ(def.ReadAt(nullptr, Ft(1), &v, &q, 0), OPC_S_NODATA);
    EXPECT_EQ(def.ReadCurrentAttribute(nullptr, 1, &stamp, &v), E_FAIL);
    EXPECT_EQ(def.ReadAttributeAt(nullptr, 1, Ft(1), &v, 0), E_FAIL);
    EXPECT_EQ(def.PrepareAggregates(nullptr, 1, Ft(0), Ft(1), Ft(1), &ctx), 0);
    FILETIME s = Ft(0), e = Ft(1);
    EXPECT_EQ(def.ReadProcessed(nullptr, 1, &s, &e, &v, &q, 0), E_FAIL);
    EXPECT_EQ(def.Insert(const_cast<char *>("Unknown"), nullptr, Ft(1), &v, 0), E_FAIL);
    EXPECT_EQ(def.Replace(const_cast<char *>("Unknown"), nullptr, Ft(1), &v, 0), E_FAIL);
    EXPECT_EQ(def.InsertReplace(const_cast<char *>("Unknown"), nullptr, Ft(1), &v, 0), E_FAIL);
    EXPECT_EQ(def.DeleteRaw(const_cast<char *>("Unknown"), nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(def.DeleteAtTime(const_cast<char *>("Unknown"), nullptr, Ft(1)), E_FAIL);
    EXPECT_EQ(stamp.dwLowDateTime, 123u);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(q, 77u);
    EXPECT_EQ(ctx, 5u);

    OPCHDA_UPDATECAPABILITIES caps = static_cast<OPCHDA_UPDATECAPABILITIES>(0x1F);
    EXPECT_EQ(def.QueryUpdateCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0);
}

TEST_F(Callbacks, PlainCallbacksReceiveTheArgumentsAndReturnTheirResult)
{
    EnableReadAtCallback(ReadAt42);
    EnableGetTimeStampCallback(SevenStamps);
    EnableInsertCallback(InsertedCode);

    VARIANT v;
    VariantInit(&v);
    unsigned long q = 0;
    void *item = reinterpret_cast<void *>(0x1234);
    EXPECT_EQ(def.ReadAt(item, Ft(99), &v, &q, 555), S_OK);
    EXPECT_EQ(g_seen.item, item);
    EXPECT_EQ(g_seen.time.dwLowDateTime, 99u);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    EXPECT_EQ(q, 0xC0u);

    // The count the plain callback stores is the count the engine gets.
    ULONG_PTR ctx = 0;
    EXPECT_EQ(def.GetTimeStamps(item, nullptr, nullptr, 0, nullptr, &ctx), 7);
    EXPECT_EQ(g_seen.maxCount, 0);
    EXPECT_EQ(ctx, 0u) << "plain callbacks neither set nor receive the context value";

    char user[] = "Unknown";
    EXPECT_EQ(def.Insert(user, item, Ft(1), &v, 0xC0), OPC_S_INSERTED);
    EXPECT_EQ(g_seen.user, user);
}

TEST_F(Callbacks, CapabilitiesAreCopiedFromTheTemporary)
{
    EnableQueryUpdateCapabilitiesCallback(Caps);
    OPCHDA_UPDATECAPABILITIES caps = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    EXPECT_EQ(def.QueryUpdateCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, OPCHDA_INSERTCAP | OPCHDA_DELETERAWCAP);
}

TEST_F(Callbacks, PlainCallbackThatStoresNoResultGivesTheDefault)
{
    EnableGetPreviousTimeStampCallback(SilentPrevious);
    FILETIME t{};
    EXPECT_EQ(def.GetPreviousTimeStamp(nullptr, Ft(1), &t, 0), OPC_S_NODATA);
}

TEST_F(Callbacks, DeleteRawPassesTheClientsRecord)
{
    EnableDeleteRawCallback(DeleteRawSeen);
    wchar_t text[] = L"DAY";
    OPCHDA_TIME start{TRUE, text, {}};
    EXPECT_EQ(def.DeleteRaw(const_cast<char *>("Unknown"), nullptr, &start, &start), S_OK);
    EXPECT_EQ(g_seen.start, &start);
}

TEST_F(Callbacks, LastInstallationDecidesWhichObjectTheEnginesUse)
{
    HostObject host;
    EXPECT_EQ(zq::State().settings.callback.load(), nullptr);

    EXPECT_EQ(SetHDAServerCallback(&host), 1);
    EXPECT_EQ(zq::State().settings.callback.load(), &host);

    // A plain callback afterwards switches to the default object.
    EXPECT_EQ(EnableReadAtCallback(ReadAt42), 1);
    EXPECT_EQ(zq::State().settings.callback.load(), &def);

    EXPECT_EQ(SetHDAServerCallback(&host), 1);
    // Removing a plain callback leaves the object unchanged.
    EXPECT_EQ(EnableReadAtCallback(nullptr), 1);
    EXPECT_EQ(zq::State().settings.callback.load(), &host);

    EXPECT_EQ(SetHDAServerCallback(nullptr), 1);
    EXPECT_EQ(zq::State().settings.callback.load(), nullptr);
}

TEST_F(Callbacks, RemovedPlainCallbackRestoresTheDefault)
{
    EnableInsertCallback(InsertedCode);
    EnableInsertCallback(nullptr);
    EXPECT_EQ(zq::State().settings.callback.load(), &def);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(def.Insert(const_cast<char *>("Unknown"), nullptr, Ft(1), &v, 0), E_FAIL);
}

TEST_F(Callbacks, HostClassReachesPlainCallbacksForMethodsItDoesNotOverride)
{
    HostObject host;
    EnableInsertCallback(InsertedCode);
    SetHDAServerCallback(&host);
    CZqHDACallback *cb = zq::State().settings.callback.load();
    VARIANT v;
    VariantInit(&v);
    unsigned long q = 0;
    EXPECT_EQ(cb->ReadAt(nullptr, Ft(1), &v, &q, 31), S_OK);
    EXPECT_EQ(host.readAts, 1);
    EXPECT_EQ(host.lastContext, 31u);
    EXPECT_EQ(cb->Insert(const_cast<char *>("Unknown"), nullptr, Ft(1), &v, 0), OPC_S_INSERTED);
}
