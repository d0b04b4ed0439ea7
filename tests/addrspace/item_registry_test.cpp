// The item tree as the host shapes it: splitting IDs, defining, finding and
// deleting items, the qualifier, handles and unusual IDs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tree_fixture.h"

using zqtest::Invalid;
using Strings = std::vector<std::string>;

namespace {

class ItemRegistry : public zqtest::ItemTreeTest
{
};

// --- Splitting ---------------------------------------------------------------

TEST(SplitItemId, ElementsBetweenQualifiers)
{
    EXPECT_EQ(zq::SplitItemId("A.B.C", '.'), (Strings{"A", "B", "C"}));
    EXPECT_EQ(zq::SplitItemId("A.B.", '.'), (Strings{"A", "B"}));
    EXPECT_EQ(zq::SplitItemId("A..B", '.'), (Strings{"A", "", "B"}));
    EXPECT_EQ(zq::SplitItemId(".A", '.'), (Strings{"", "A"}));
    EXPECT_EQ(zq::SplitItemId("", '.'), Strings{});
    EXPECT_EQ(zq::SplitItemId(".", '.'), Strings{""});
    EXPECT_EQ(zq::SplitItemId("..", '.'), (Strings{"", ""}));
    EXPECT_EQ(zq::SplitItemId("A.B/C", '/'), (Strings{"A.B", "C"}));
    EXPECT_EQ(zq::SplitItemId("Abc", '.'), Strings{"Abc"});
}

TEST(SplitItemId, AfterLastQualifier)
{
    EXPECT_EQ(zq::AfterLastQualifier("A.B.C", '.'), "C");
    EXPECT_EQ(zq::AfterLastQualifier("ABC", '.'), "ABC");
    EXPECT_EQ(zq::AfterLastQualifier("A.B.", '.'), "");
    EXPECT_EQ(zq::AfterLastQualifier("", '.'), "");
    EXPECT_EQ(zq::AfterLastQualifier(".X", '.'), "X");
}

// In code page 932, 0x95 0x5C is one character whose trail byte is the
// backslash. Under code page 1252 the same bytes are two characters.
const char kDoubleByte[] = "\x95\x5C";

bool HasCodePage932() { return IsDBCSLeadByteEx(932, 0x95) != FALSE; }

TEST(SplitItemId, TrailByteOfADoubleByteCharacterNeverSplits)
{
    ASSERT_TRUE(HasCodePage932()) << "code page 932 is not available";
    const std::string id = std::string("A\\") + kDoubleByte + "\\B";
    EXPECT_EQ(zq::SplitItemId(id, '\\', 932), (Strings{"A", kDoubleByte, "B"}));
    EXPECT_EQ(zq::SplitItemId(id, '\\', 1252), (Strings{"A", "\x95", "", "B"}));
    EXPECT_EQ(zq::AfterLastQualifier(std::string("A\\") + kDoubleByte, '\\', 932), kDoubleByte);
    EXPECT_EQ(zq::AfterLastQualifier(std::string("A\\") + kDoubleByte, '\\', 1252), "");
    // A lead byte at the very end has no trail byte to step over.
    EXPECT_EQ(zq::SplitItemId("A\\\x95", '\\', 932), (Strings{"A", "\x95"}));
    // A trail byte in the ASCII range that is not the qualifier changes nothing.
    EXPECT_EQ(zq::SplitItemId("\x82\x41.B", '.', 932), (Strings{"\x82\x41", "B"}));
}

TEST_F(ItemRegistry, DoubleByteIdsKeepTheirCharactersWhole)
{
    ASSERT_TRUE(HasCodePage932()) << "code page 932 is not available";
    zq::SetItemIdCodePage(932);
    SetZqHDAsvrQualifier('\\');
    const std::string id = std::string("Plant\\") + kDoubleByte;
    ASSERT_NE(DefineHDAItem(id.c_str()), Invalid());
    EXPECT_EQ(Shape(), "Plant{" + id + "}");
    EXPECT_TRUE(Found(id));
    {
        zq::TreeReader reader;
        const zq::ItemRecord *record = reader.ResolvePath(id);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->Name(), id);
        EXPECT_EQ(reader.BrowseName(*record), kDoubleByte);
    }
    EXPECT_EQ(DeleteHDAItem(id.c_str()), 1);
    EXPECT_EQ(Shape(), "");
}

// --- Defining and finding ----------------------------------------------------

TEST_F(ItemRegistry, DefiningMakesBranchRecordsForTheLeadingElements)
{
    void *h = DefineHDAItem("A.B.C");
    ASSERT_NE(h, Invalid());
    EXPECT_EQ(Shape(), "A{B{A.B.C}}");
    zq::ItemInfo item = Info("A.B.C");
    EXPECT_EQ(item.handle, h);
    EXPECT_EQ(item.readAccess, 1u);
    EXPECT_EQ(item.writeAccess, 2u);
    // Branch records are named by one element and carry the words 1 and 0.
    zq::ItemInfo branch = Info("A");
    EXPECT_NE(branch.handle, h);
    EXPECT_EQ(branch.readAccess, 1u);
    EXPECT_EQ(branch.writeAccess, 0u);
    EXPECT_FALSE(Found("B"));
    EXPECT_FALSE(Found("A.B")); // the branch B is named "B", not "A.B"

    EXPECT_EQ(DefineHDAItem("A.B.C"), Invalid());
    EXPECT_EQ(Shape(), "A{B{A.B.C}}");
}

TEST_F(ItemRegistry, DefinedItemBecomesABranchWhenALaterIdContinuesIt)
{
    void *a = DefineHDAItem("A");
    void *ab = DefineHDAItem("A.B");
    ASSERT_NE(a, Invalid());
    ASSERT_NE(ab, Invalid());
    EXPECT_EQ(Shape(), "A{A.B}");
    EXPECT_EQ(Info("A").handle, a);
    EXPECT_EQ(Info("A").writeAccess, 2u); // still the defined item's record
    EXPECT_EQ(Info("A.B").handle, ab);

    // Deleting A.B leaves the defined item A, now a leaf again.
    EXPECT_EQ(DeleteHDAItem("A.B"), 1);
    EXPECT_EQ(Shape(), "A");
    EXPECT_EQ(Info("A").handle, a);
    ab = DefineHDAItem("A.B");
    ASSERT_NE(ab, Invalid());

    // Deleting A takes A.B with it.
    EXPECT_EQ(DeleteHDAItem("A"), 1);
    EXPECT_FALSE(Found("A"));
    EXPECT_FALSE(Found("A.B"));
    EXPECT_EQ(Shape(), "");
}

TEST_F(ItemRegistry, ABranchRecordIsFoundByItsElement)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_TRUE(Found("A"));
    EXPECT_EQ(DefineHDAItem("A"), Invalid());
    EXPECT_EQ(DeleteHDAItem("A"), 1);
    EXPECT_FALSE(Found("A.B"));
    EXPECT_EQ(Shape(), "");
}

TEST_F(ItemRegistry, TrailingQualifierIsKeptInTheName)
{
    ASSERT_NE(DefineHDAItem("A.B."), Invalid());
    EXPECT_EQ(Shape(), "A{A.B.}");
    EXPECT_TRUE(Found("A.B."));
    EXPECT_FALSE(Found("A.B"));
    EXPECT_NE(DefineHDAItem("A.B"), Invalid()); // a different ID, a sibling
    EXPECT_EQ(Shape(), "A{A.B.,A.B}");
}

TEST_F(ItemRegistry, EmptyElementsAndTheEmptyId)
{
    void *empty = DefineHDAItem("");
    ASSERT_NE(empty, Invalid());
    EXPECT_EQ(DefineHDAItem(""), Invalid());
    EXPECT_EQ(Info("").handle, empty);

    ASSERT_NE(DefineHDAItem("A..B"), Invalid());
    ASSERT_NE(DefineHDAItem(".A"), Invalid());
    // .A hangs from the empty item's record: its name equals the empty
    // element, and find child takes defined items and branches alike.
    EXPECT_EQ(Shape(), "{.A},A{{A..B}}");
    EXPECT_TRUE(Found("A..B"));
    EXPECT_TRUE(Found(".A"));
    EXPECT_EQ(DeleteHDAItem(".A"), 1);
    // The empty item stays although it lost its last child: it is a defined
    // item, not a branch record.
    EXPECT_EQ(Shape(), ",A{{A..B}}");
    EXPECT_TRUE(Found(""));
}

TEST_F(ItemRegistry, FindItemComparesTheCompleteIdAtTheLastLevel)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    ASSERT_NE(DefineHDAItem("A.C"), Invalid());
    EXPECT_TRUE(Found("A.B"));
    EXPECT_FALSE(Found("A.b")); // case matters
    EXPECT_FALSE(Found("A.X"));
    EXPECT_FALSE(Found("X.B"));
    EXPECT_FALSE(Found("A.B.C"));
    EXPECT_FALSE(Found("B"));
}

// --- Deleting ----------------------------------------------------------------

TEST_F(ItemRegistry, DeletingRemovesBranchesThatBecomeEmpty)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    ASSERT_NE(DefineHDAItem("A.C"), Invalid());
    EXPECT_EQ(DeleteHDAItem("A.B"), 1);
    EXPECT_EQ(Shape(), "A{A.C}");
    EXPECT_EQ(DeleteHDAItem("A.C"), 1);
    EXPECT_EQ(Shape(), "");

    ASSERT_NE(DefineHDAItem("P.Q.R.S"), Invalid());
    ASSERT_NE(DefineHDAItem("P.X"), Invalid());
    EXPECT_EQ(DeleteHDAItem("P.Q.R.S"), 1);
    EXPECT_EQ(Shape(), "P{P.X}"); // Q and R went, P stays for P.X
}

TEST_F(ItemRegistry, DeletingKeepsTheOrderOfTheOtherChildren)
{
    for (const char *id : {"A.X", "A.Y", "A.Z", "A.W"})
        ASSERT_NE(DefineHDAItem(id), Invalid());
    EXPECT_EQ(DeleteHDAItem("A.Y"), 1);
    EXPECT_EQ(Shape(), "A{A.X,A.Z,A.W}");
}

TEST_F(ItemRegistry, DeletingAnUndefinedIdChangesNothing)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_EQ(DeleteHDAItem("A.C"), 0);
    EXPECT_EQ(DeleteHDAItem("B"), 0);
    EXPECT_EQ(DeleteHDAItem(""), 0);
    EXPECT_EQ(Shape(), "A{A.B}");
    EXPECT_EQ(DeleteHDAItem("A.B"), 1);
    EXPECT_EQ(DeleteHDAItem("A.B"), 0);
}

// --- Qualifier ---------------------------------------------------------------

TEST_F(ItemRegistry, QualifierIsSetByItsLowByteAndZeroOnlyReadsIt)
{
    EXPECT_EQ(SetZqHDAsvrQualifier(0), '.');
    EXPECT_EQ(SetZqHDAsvrQualifier('/'), '/');
    EXPECT_EQ(SetZqHDAsvrQualifier(0), '/');
    EXPECT_EQ(zq::Qualifier(), '/');
    EXPECT_EQ(SetZqHDAsvrQualifier(0x100 | '|'), '|');
    EXPECT_EQ(SetZqHDAsvrQualifier(0x300), '|'); // low byte 0: read only
    EXPECT_EQ(SetZqHDAsvrQualifier(0xA5), 0xA5); // a byte above 0x7F reads back unsigned
    EXPECT_EQ(SetZqHDAsvrQualifier(0), 0xA5);
}

TEST_F(ItemRegistry, ChangingTheQualifierDoesNotRebuildTheTree)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    SetZqHDAsvrQualifier('/');
    EXPECT_FALSE(Found("A.B")); // looks for a top-level record named A.B
    EXPECT_TRUE(Found("A"));
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_EQ(Shape(), "A{A.B},A.B");
    ASSERT_NE(DefineHDAItem("A/C"), Invalid());
    EXPECT_EQ(Shape(), "A{A.B,A/C},A.B");
    EXPECT_EQ(DeleteHDAItem("A.B"), 1); // the top-level one
    EXPECT_EQ(Shape(), "A{A.B,A/C}");
    SetZqHDAsvrQualifier('.');
    EXPECT_TRUE(Found("A.B"));
    EXPECT_FALSE(Found("A/C")); // now a top-level name
}

// --- Handles ---------------------------------------------------------------------

TEST_F(ItemRegistry, HandlesAreNeverReusedAfterADelete)
{
    std::set<void *> seen;
    for (int round = 0; round < 500; ++round) {
        // Same sizes every round: a freed record's memory comes straight back.
        void *h = DefineHDAItem("Tank.Level");
        ASSERT_NE(h, Invalid());
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(seen.insert(h).second) << "handle reused in round " << round;
        EXPECT_TRUE(seen.insert(Info("Tank").handle).second) << "branch handle reused";
        ASSERT_EQ(DeleteHDAItem("Tank.Level"), 1);
    }
}

TEST_F(ItemRegistry, HandlesRunOutRatherThanWrapToNoItemOrZeroOrOutgrowAServerHandle)
{
    // The last value a 32-bit server handle can hold (on i686 also "no item").
    const uintptr_t max = static_cast<OPCHANDLE>(-1);
    zq::SetNextItemHandleForTest(max - 2);
    void *a = DefineHDAItem("A");
    ASSERT_EQ(reinterpret_cast<uintptr_t>(a), max - 2);
    ASSERT_NE(DefineHDAItem("B"), Invalid());
    // Two records would be needed (branch P, item P.Q); no handle is left.
    EXPECT_EQ(DefineHDAItem("P.Q"), Invalid());
    EXPECT_EQ(DefineHDAItem("C"), Invalid());
    EXPECT_EQ(Shape(), "A,B");
    // Handles far above any that the other tests used.
    zq::SetNextItemHandleForTest(max - 1); // one left: the branch P
    EXPECT_EQ(DefineHDAItem("P.Q"), Invalid());
    EXPECT_EQ(Shape(), "A,B"); // the branch made on the way was removed again
    // Handles far above any that the other tests used.
    zq::SetNextItemHandleForTest(static_cast<uintptr_t>(1) << 30);
    EXPECT_NE(DefineHDAItem("P.Q"), Invalid());
}

// --- Unusual IDs ---------------------------------------------------------------

TEST_F(ItemRegistry, NullIdsAreRefused)
{
    ASSERT_NE(DefineHDAItem("A"), Invalid());
    EXPECT_EQ(DefineHDAItem(nullptr), Invalid());
    EXPECT_EQ(DeleteHDAItem(nullptr), 0);
    EXPECT_EQ(zq::AddItem(nullptr, 0x10000, 0x20000), Invalid());
    EXPECT_FALSE(zq::DeleteItem(nullptr));
    EXPECT_EQ(Shape(), "A");
    EXPECT_FALSE(Found("")); // a null did not define the empty ID
}

TEST_F(ItemRegistry, AddItemStoresTheGivenAccessWords)
{
    void *h = zq::AddItem("Secure.Item", 0x00010000, 0x00020000);
    ASSERT_NE(h, Invalid());
    zq::ItemInfo info = Info("Secure.Item");
    EXPECT_EQ(info.handle, h);
    EXPECT_EQ(info.readAccess, 0x00010000u);
    EXPECT_EQ(info.writeAccess, 0x00020000u);
    EXPECT_EQ(zq::AddItem("Secure.Item", 1, 2), Invalid());
}

TEST_F(ItemRegistry, TenThousandCharacterIds)
{
    const std::string flat(10000, 'x');
    std::string deep; // 5000 elements: a.a. ... .a.ab
    for (int i = 0; i < 5000; ++i)
        deep += i == 0 ? "a" : ".a";
    deep += 'b';
    ASSERT_EQ(deep.size(), 10000u);

    void *hf = DefineHDAItem(flat.c_str());
    void *hd = DefineHDAItem(deep.c_str());
    ASSERT_NE(hf, Invalid());
    ASSERT_NE(hd, Invalid());
    EXPECT_EQ(Info(flat).handle, hf);
    EXPECT_EQ(Info(deep).handle, hd);
    EXPECT_EQ(DefineHDAItem(deep.c_str()), Invalid());
    {
        zq::TreeReader reader;
        std::vector<std::string> flatList;
        reader.ListFlat(reader.Root(), &flatList);
        EXPECT_EQ(flatList, (Strings{flat, deep}));
        const zq::ItemRecord *record = reader.ResolvePath(deep);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->Handle(), hd);
        EXPECT_EQ(reader.BrowseName(*record), "ab");
    }
    EXPECT_EQ(DeleteHDAItem(deep.c_str()), 1);
    EXPECT_EQ(DeleteHDAItem(flat.c_str()), 1);
    EXPECT_EQ(Shape(), "");
}

// Runs body on a thread with a small stack: anything that recursed once per
// level of a tree thousands of levels deep would overflow it.
template <typename F> void OnSmallStack(F body)
{
    struct Ctx
    {
        F *body;
        static DWORD WINAPI Run(void *p)
        {
            (*static_cast<Ctx *>(p)->body)();
            return 0;
        }
    } ctx{&body};
    HANDLE t = CreateThread(nullptr, 64 * 1024, &Ctx::Run, &ctx,
                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(t, &code);
    CloseHandle(t);
    EXPECT_EQ(code, 0u);
}

TEST_F(ItemRegistry, TreesThousandsOfLevelsDeepNeedNoDeepStack)
{
    const std::string dots(10000, '.'); // 10,000 empty elements
    bool defined = false, found = false, listed = false, deleted = false, cleared = false;
    OnSmallStack([&] {
        defined = DefineHDAItem(dots.c_str()) != Invalid();
        found = zq::LookupItem(dots, nullptr);
        {
            zq::TreeReader reader;
            std::vector<std::string> all;
            reader.ListFlat(reader.Root(), &all);
            listed = all.size() == 1 && all[0] == dots;
        }
        deleted = DeleteHDAItem(dots.c_str()) == 1;
        DefineHDAItem(dots.c_str());
        DefineHDAItem((dots + "x").c_str());
        zq::ClearItemTree();
        cleared = !zq::LookupItem(dots, nullptr);
    });
    EXPECT_TRUE(defined);
    EXPECT_TRUE(found);
    EXPECT_TRUE(listed);
    EXPECT_TRUE(deleted);
    EXPECT_TRUE(cleared);
    EXPECT_EQ(Shape(), "");
}

TEST_F(ItemRegistry, ClearItemTreeDeletesEverything)
{
    for (const char *id : {"A", "A.B", "C.D.E", ""})
        ASSERT_NE(DefineHDAItem(id), Invalid());
    zq::ClearItemTree();
    EXPECT_EQ(Shape(), "");
    for (const char *id : {"A", "A.B", "C.D.E", "", "C"})
        EXPECT_FALSE(Found(id)) << id;
    EXPECT_NE(DefineHDAItem("A.B"), Invalid()); // usable afterwards
}

} // namespace
