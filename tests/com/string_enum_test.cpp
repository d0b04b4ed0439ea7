// The string enumerator of a listing: Next, Skip, Reset, Clone, its traces
// and its count, driven through a browser as a client would.
#include "server_fixture.h"

using namespace zqtest;

namespace {

class StringEnum : public ServerTest
{
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        for (const char *id : {"A.B.C", "A.D", "A.B.E"})
            ASSERT_NE(DefineHDAItem(id), zq::NoItemHandle());
        IOPCHDA_Browser *b = Browse();
        ASSERT_NE(b, nullptr);
        ASSERT_EQ(b->GetEnum(OPCHDA_FLAT, &names), S_OK);
        b->Release();
        ASSERT_NE(names, nullptr);
    }
    void TearDown() override
    {
        if (names != nullptr) {
            EXPECT_EQ(names->Release(), 0u);
        }
        ServerTest::TearDown();
    }

    // Next(count): the strings delivered (freed), the count and the result.
    struct Batch
    {
        HRESULT hr;
        ULONG fetched;
        Strings strings;
    };
    static Batch Next(IEnumString *e, ULONG count)
    {
        std::vector<LPOLESTR> slots(count + 1, nullptr);
        Batch b{E_FAIL, 12345, {}};
        b.hr = e->Next(count, slots.data(), &b.fetched);
        for (ULONG i = 0; i < b.fetched && i < count; ++i)
            b.strings.push_back(Take(slots[i]));
        EXPECT_EQ(slots[count], nullptr) << "nothing written past the count";
        return b;
    }

    IEnumString *names = nullptr;
};

} // namespace

TEST_F(StringEnum, NextDeliversAtMostWhatRemains)
{
    Batch b = Next(names, 2);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.fetched, 2u);
    EXPECT_EQ(b.strings, (Strings{"A.B.C", "A.B.E"}));
    b = Next(names, 2);
    EXPECT_EQ(b.hr, S_FALSE);
    EXPECT_EQ(b.fetched, 1u);
    EXPECT_EQ(b.strings, Strings{"A.D"});
    b = Next(names, 2);
    EXPECT_EQ(b.hr, S_FALSE);
    EXPECT_EQ(b.fetched, 0u);

    EXPECT_EQ(names->Reset(), S_OK);
    b = Next(names, 0);
    EXPECT_EQ(b.hr, S_OK);
    EXPECT_EQ(b.fetched, 0u);
    // One string may be asked for without a count pointer.
    LPOLESTR one = nullptr;
    EXPECT_EQ(names->Next(1, &one, nullptr), S_OK);
    EXPECT_EQ(Take(one), "A.B.C");
}

TEST_F(StringEnum, NextRefusesMissingPointers)
{
    LPOLESTR slots[2] = {};
    EXPECT_EQ(names->Next(2, slots, nullptr), E_POINTER);
    ULONG fetched = 7;
    EXPECT_EQ(names->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(fetched, 0u);
    // Nothing was consumed by the refused calls.
    EXPECT_EQ(Next(names, 1).strings, Strings{"A.B.C"});
}

TEST_F(StringEnum, SkipAndReset)
{
    EXPECT_EQ(names->Skip(1), S_OK);
    EXPECT_EQ(names->Skip(2), S_OK) << "exactly the remaining number";
    EXPECT_EQ(Next(names, 1).fetched, 0u);
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(names->Skip(2), S_OK);
    EXPECT_EQ(names->Skip(5), S_FALSE);
    EXPECT_EQ(Next(names, 1).fetched, 0u) << "the cursor stays at the end";
    EXPECT_EQ(names->Skip(0), S_OK);
    EXPECT_EQ(names->Skip(0xFFFFFFFFu), S_FALSE);
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(Next(names, 3).strings, (Strings{"A.B.C", "A.B.E", "A.D"}));
}

TEST_F(StringEnum, ACloneContinuesIndependently)
{
    EXPECT_EQ(Next(names, 1).strings, Strings{"A.B.C"});
    IEnumString *clone = nullptr;
    ASSERT_EQ(names->Clone(&clone), S_OK);
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(zq::IOPCEnumString::LiveObjects(), 2);
    EXPECT_EQ(Next(clone, 5).strings, (Strings{"A.B.E", "A.D"}));
    EXPECT_EQ(Next(names, 1).strings, Strings{"A.B.E"}) << "the original did not move";
    EXPECT_EQ(names->Reset(), S_OK);
    EXPECT_EQ(Next(clone, 1).fetched, 0u) << "nor did the clone";
    EXPECT_EQ(clone->Release(), 0u);
    EXPECT_EQ(zq::IOPCEnumString::LiveObjects(), 1);
    EXPECT_EQ(names->Clone(nullptr), E_POINTER);
}

TEST_F(StringEnum, AListingIsASnapshot)
{
    ASSERT_EQ(DeleteHDAItem("A.B.C"), 1);
    ASSERT_EQ(DeleteHDAItem("A.D"), 1);
    ASSERT_NE(DefineHDAItem("A.F"), zq::NoItemHandle());
    EXPECT_EQ(Next(names, 10).strings, (Strings{"A.B.C", "A.B.E", "A.D"}));
}

TEST_F(StringEnum, CountsAndTraces)
{
    TraceCapture cap;
    EXPECT_EQ(names->AddRef(), 2u);
    EXPECT_EQ(names->Release(), 1u);
    EXPECT_EQ(cap.Texts(), (Strings{"IOPCEnumString::AddRef(2)", "IOPCEnumString::Release(2)"}))
        << "Release shows the count before the decrement";

    cap.Clear();
    void *p = reinterpret_cast<void *>(1);
    EXPECT_EQ(names->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
    ASSERT_EQ(names->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IUnknown *>(names));
    static_cast<IUnknown *>(p)->Release();
    ASSERT_EQ(names->QueryInterface(IID_IEnumString, &p), S_OK);
    static_cast<IUnknown *>(p)->Release();
    EXPECT_EQ(names->QueryInterface(IID_IMarshal, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    p = reinterpret_cast<void *>(1);
    EXPECT_EQ(names->QueryInterface(IID_IOPCHDA_Browser, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(cap.Texts(),
              (Strings{"IOPCEnumString::QueryInterface E_INVALIDARG",
                       "IOPCEnumString::QueryInterface IID_IUnknown", "IOPCEnumString::AddRef(2)",
                       "IOPCEnumString::Release(2)",
                       "IOPCEnumString::QueryInterface IID_IEnumString",
                       "IOPCEnumString::AddRef(2)", "IOPCEnumString::Release(2)",
                       "IOPCEnumString::QueryInterface IID_IMarshal",
                       "IOPCEnumString::QueryInterface"}));

    cap.Clear();
    LPOLESTR s = nullptr;
    names->Next(1, &s, nullptr);
    CoTaskMemFree(s);
    names->Skip(1);
    names->Reset();
    IEnumString *clone = nullptr;
    names->Clone(&clone);
    clone->Release();
    EXPECT_EQ(cap.Texts(),
              (Strings{"IOPCEnumString::Next", "IOPCEnumString::Skip", "IOPCEnumString::Reset",
                       "IOPCEnumString::Clone", "IOPCEnumString::AddRef(1)",
                       "IOPCEnumString::Release(1)"}));
}
