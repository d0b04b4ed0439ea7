// SetHDAQualityStyle through the in-process server: the words the library
// writes for a missing bound and an undelivered value, in synchronous and
// asynchronous reads, each read keeping the style it was requested with, and
// the host's own qualities passed through untouched.
#include "async_fixture.h"

#include "opchda_constants.h"

using namespace zqtest;

namespace {

constexpr DWORD kHostWord = 0x10; // the host's own quality, equal to the library's style-0 word

class QualityStyle : public AsyncTest
{
protected:
    void SetUp() override
    {
        AsyncTest::SetUp();
        ASSERT_EQ(SetHDAQualityStyle(0), 0); // every test starts from the default
    }
    void TearDown() override
    {
        SetHDAQualityStyle(0);
        if (sync != nullptr)
            sync->Release();
        AsyncTest::TearDown();
    }

    // Raw read with bounds of [Sec(0), Sec(5)]: no value before or after the
    // range, values at 1 s (good), 2 s (the host's quality 0x10) and 3 s
    // (not delivered).
    void MakeHistory()
    {
        AddItem(1, 10);
        host.AddValue(ItemOf(1), Sec(1), Variant::R8(1));
        host.AddValue(ItemOf(1), Sec(2), Variant::R8(2), kHostWord);
        host.AddValue(ItemOf(1), Sec(3), Variant::R8(3));
        host.ForceResultAt(zqtest::Method::ReadAt, Sec(3), E_FAIL);
        ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&sync)),
                  S_OK);
    }

    std::vector<DWORD> SyncRawQualities()
    {
        OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(5));
        OPCHANDLE h = 1;
        return Qualities([&](OPCHDA_ITEM **items, HRESULT **errors) {
            return sync->ReadRaw(&s, &e, 0, TRUE, 1, &h, items, errors);
        });
    }

    std::vector<DWORD> SyncAtTimeQualities()
    {
        FILETIME t[2] = {Ft(Sec(1)), Ft(Sec(3))};
        OPCHANDLE h = 1;
        return Qualities([&](OPCHDA_ITEM **items, HRESULT **errors) {
            return sync->ReadAtTime(2, t, 1, &h, items, errors);
        });
    }

    // The qualities of a one-item synchronous read that must succeed.
    template <typename Read> static std::vector<DWORD> Qualities(Read &&read)
    {
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        EXPECT_EQ(read(&items, &errors), S_OK);
        if (items == nullptr || errors == nullptr)
            return {};
        std::vector<DWORD> q = ValuesOf(items[0]).qualities;
        FreeItems(items, 1);
        CoTaskMemFree(errors);
        return q;
    }

    void RequestRaw(DWORD tid)
    {
        OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(5));
        OPCHANDLE h = 1;
        RequestOut out;
        ASSERT_EQ(read->ReadRaw(tid, &s, &e, 0, TRUE, 1, &h, &out.cancelId, &out.errors), S_OK);
    }

    // The qualities delivered for the transaction.
    std::vector<DWORD> Delivered(DWORD tid)
    {
        for (const Received &r : sink.CallsOf(Received::ReadComplete)) {
            if (r.transactionId == tid && r.values.size() == 1)
                return r.values[0].qualities;
        }
        ADD_FAILURE() << "transaction " << tid << " not delivered";
        return {};
    }

    IOPCHDA_SyncRead *sync = nullptr;
};

TEST_F(QualityStyle, EachReadWritesTheWordsOfTheStyleItWasRequestedWith)
{
    MakeHistory();
    const DWORD good = kGoodQuality;
    const std::vector<DWORD> libraryWords{0x10, good, kHostWord, 0x20, 0x10};
    const std::vector<DWORD> publishedWords{OPCHDA_NOBOUND, good, kHostWord, OPCHDA_NODATA,
                                            OPCHDA_NOBOUND};

    EXPECT_EQ(SyncRawQualities(), libraryWords);
    EXPECT_EQ(SyncAtTimeQualities(), (std::vector<DWORD>{good, 0x20}));

    // Requested under style 0, run after the switch: keeps style 0.
    RequestRaw(1);
    EXPECT_EQ(SetHDAQualityStyle(1), 0);
    // An unknown style is refused and changes nothing.
    EXPECT_EQ(SetHDAQualityStyle(2), -1);
    EXPECT_EQ(SetHDAQualityStyle(-1), -1);
    RequestRaw(2);
    ASSERT_TRUE(Tick());
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(Delivered(1), libraryWords);
    EXPECT_EQ(Delivered(2), publishedWords);

    EXPECT_EQ(SyncRawQualities(), publishedWords);
    EXPECT_EQ(SyncAtTimeQualities(), (std::vector<DWORD>{good, OPCHDA_NODATA}));

    // And back: the previous style is reported.
    EXPECT_EQ(SetHDAQualityStyle(0), 1);
    EXPECT_EQ(SyncRawQualities(), libraryWords);
}

} // namespace
