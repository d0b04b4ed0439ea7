// The update journal: records of every value type survive the round trip;
// a torn last record (in each way a crash can leave it) is dropped and cut
// off, the original kept beside it, so that later records are not lost
// behind it; damage anywhere else, a complete record with a wrong checksum
// included, and foreign files are refused without touching the file; what
// the journal could not replay is refused when it is appended; journals of
// the first format still replay.
#include "historian_fixture.h"

#include <cstring>

#include "journal.h"

using namespace htest;
using historian::EncodeRecord;
using historian::Journal;
using historian::JournalImage;
using historian::JournalOp;
using historian::JournalRecord;
using historian::ParseJournal;
using historian::Value;

namespace {

const std::string kHeader = historian::kJournalHeader;

JournalRecord SetRecord(const std::string &item, long long second, Value v, DWORD q = 0xC0)
{
    JournalRecord r;
    r.op = JournalOp::Set;
    r.item = item;
    r.time = Sec(second);
    r.quality = q;
    r.value = std::move(v);
    return r;
}

JournalImage Parse(const std::string &bytes)
{
    JournalImage image;
    std::string error;
    EXPECT_TRUE(ParseJournal(bytes, &image, &error)) << error;
    return image;
}

TEST(JournalFormat, Crc32OfTheStandardCheckString)
{
    EXPECT_EQ(historian::Crc32("123456789", 9), 0xCBF43926u);
}

TEST(JournalFormat, EveryValueTypeRoundTrips)
{
    std::vector<Value> values;
    values.push_back(Value());
    values.push_back(Value(-2.5));
    values.push_back(Value::Bool(true));
    values.push_back(Value::Int(-123456));
    values.push_back(Value::Text(L"Caf\u00e9, \"quoted\""));
    values.push_back(Value::Text(L""));
    Value i1, i8, cy, r4, date, null;
    i1.Raw().vt = VT_I1;
    i1.Raw().cVal = -5;
    i8.Raw().vt = VT_UI8;
    i8.Raw().ullVal = 0xFEDCBA9876543210ull;
    cy.Raw().vt = VT_CY;
    cy.Raw().cyVal.int64 = 123450000;
    r4.Raw().vt = VT_R4;
    r4.Raw().fltVal = 0.25f;
    date.Raw().vt = VT_DATE;
    date.Raw().date = 45352.5;
    null.Raw().vt = VT_NULL;
    for (Value *v : {&i1, &i8, &cy, &r4, &date, &null})
        values.push_back(*v);

    std::string bytes = kHeader;
    for (size_t i = 0; i < values.size(); ++i)
        bytes += EncodeRecord(SetRecord("Item." + std::to_string(i), static_cast<long long>(i),
                                        values[i], 0x00040000u + static_cast<DWORD>(i)));
    JournalRecord range;
    range.op = JournalOp::DeleteRange;
    range.item = "Item.0";
    range.time = Sec(1);
    range.last = Sec(2);
    bytes += EncodeRecord(range);

    JournalImage image = Parse(bytes);
    ASSERT_EQ(image.records.size(), values.size() + 1);
    EXPECT_EQ(image.tornBytes, 0u);
    EXPECT_EQ(image.validBytes, bytes.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const JournalRecord &r = image.records[i];
        EXPECT_EQ(r.item, "Item." + std::to_string(i));
        EXPECT_EQ(r.time, Sec(static_cast<long long>(i)));
        EXPECT_EQ(r.quality, 0x00040000u + i);
        const VARIANT &a = values[i].Get(), &b = r.value.Get();
        ASSERT_EQ(a.vt, b.vt) << i;
        if (a.vt == VT_BSTR)
            EXPECT_EQ(std::wstring(a.bstrVal, SysStringLen(a.bstrVal)),
                      std::wstring(b.bstrVal, SysStringLen(b.bstrVal)));
        else
            EXPECT_EQ(std::memcmp(&a.llVal, &b.llVal, historian::FixedSize(a.vt)), 0) << i;
    }
    EXPECT_EQ(image.records.back().op, JournalOp::DeleteRange);
    EXPECT_EQ(image.records.back().last, Sec(2));
}

class TornTail : public testing::Test
{
protected:
    TornTail()
    {
        first = EncodeRecord(SetRecord("A", 1, Value(1.0)));
        second = EncodeRecord(SetRecord("A", 2, Value::Text(L"two")));
        good = kHeader + first;
    }
    std::string first, second, good;
};

TEST_F(TornTail, PartialSizeField)
{
    JournalImage image = Parse(good + second.substr(0, 3));
    EXPECT_EQ(image.records.size(), 1u);
    EXPECT_EQ(image.validBytes, good.size());
    EXPECT_EQ(image.tornBytes, 3u);
}

TEST_F(TornTail, PayloadCutShort)
{
    for (size_t cut = 8; cut < second.size(); cut += 5) {
        JournalImage image = Parse(good + second.substr(0, cut));
        EXPECT_EQ(image.records.size(), 1u) << cut;
        EXPECT_EQ(image.tornBytes, cut) << cut;
    }
}

TEST_F(TornTail, TrailingZeros)
{
    JournalImage image = Parse(good + std::string(37, '\0'));
    EXPECT_EQ(image.records.size(), 1u);
    EXPECT_EQ(image.tornBytes, 37u);
}

TEST_F(TornTail, TornHeaderIsANewJournal)
{
    JournalImage image = Parse(kHeader.substr(0, 5));
    EXPECT_FALSE(image.hasHeader);
    EXPECT_TRUE(image.records.empty());
    EXPECT_FALSE(Parse("").hasHeader);
}

TEST_F(TornTail, DamageBeforeIntactRecordsIsRefused)
{
    std::string damaged = first;
    damaged[10] ^= 0x01;
    JournalImage image;
    std::string error;
    EXPECT_FALSE(ParseJournal(kHeader + damaged + second, &image, &error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;

    // One bit of a middle record's size: the size now runs past the end of
    // the file, which without the header's own check looked like a torn
    // tail and cost every record behind it.
    std::string flipped = second;
    flipped[2] ^= 0x01;
    EXPECT_FALSE(ParseJournal(good + flipped + first, &image, &error));
    EXPECT_EQ(error, "damaged record header at offset " + std::to_string(good.size()));
    EXPECT_EQ(image.records.size(), 1u) << "what was sound before the damage";

    // A complete last record whose checksum fails is damage, not a torn write.
    damaged = second;
    damaged[damaged.size() - 1] ^= 0x5A;
    EXPECT_FALSE(ParseJournal(good + damaged, &image, &error));
    EXPECT_EQ(error, "damaged record (checksum) at offset " + std::to_string(good.size()));
    EXPECT_EQ(image.records.size(), 1u);

    std::string hugeSize = kHeader + std::string("\xFF\xFF\xFF\x7F\0\0\0\0", 8) + second;
    EXPECT_FALSE(ParseJournal(hugeSize, &image, &error));
    EXPECT_FALSE(ParseJournal("SOMETHING ELSE ENTIRELY", &image, &error));
    EXPECT_FALSE(ParseJournal("XQ", &image, &error)) << "not even a torn header";
}

TEST(JournalFile, AppendsSurviveAReopenAndATornTailIsCutOff)
{
    TempFolder folder;
    const std::string path = folder.File("updates.journal");
    std::vector<JournalRecord> records;
    std::string error;
    {
        Journal j;
        ASSERT_TRUE(j.Open(path, &records, &error)) << error;
        EXPECT_TRUE(records.empty());
        EXPECT_EQ(folder.Read("updates.journal"), kHeader);
        EXPECT_TRUE(j.Append(SetRecord("A", 1, Value(1.0))));
        EXPECT_TRUE(j.Append(SetRecord("A", 2, Value(2.0))));
        // Another writer is kept out while the journal is open.
        HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE);
        if (other != INVALID_HANDLE_VALUE)
            CloseHandle(other);
    }
    // A crash in the middle of the third append.
    std::string third = EncodeRecord(SetRecord("A", 3, Value(3.0)));
    std::string bytes = folder.Read("updates.journal") + third.substr(0, third.size() - 4);
    folder.Write("updates.journal", bytes);
    {
        Journal j;
        ASSERT_TRUE(j.Open(path, &records, &error)) << error;
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(j.TornBytes(), third.size() - 4);
        EXPECT_EQ(j.KeptAs(), path + ".orig-1");
        EXPECT_EQ(folder.Read("updates.journal.orig-1"), bytes) << "the original, torn tail too";
        EXPECT_TRUE(j.Append(SetRecord("A", 4, Value(4.0))));
    }
    {
        Journal j;
        ASSERT_TRUE(j.Open(path, &records, &error)) << error;
        ASSERT_EQ(records.size(), 3u) << "the record after the torn one is not lost";
        EXPECT_EQ(records[2].time, Sec(4));
        EXPECT_EQ(j.TornBytes(), 0u);
        EXPECT_EQ(j.KeptAs(), "") << "an intact journal is not copied";
    }
}

// Damage is reported and the file stays exactly as it was, with no copy made:
// the operator decides. The records before the damage come back for reading.
TEST(JournalFile, ADamagedJournalIsRefusedAndLeftAlone)
{
    TempFolder folder;
    const std::string first = EncodeRecord(SetRecord("A", 1, Value(1.0)));
    std::string second = EncodeRecord(SetRecord("A", 2, Value(2.0)));
    second[2] ^= 0x01; // the size now runs past the end
    const std::string bytes = kHeader + first + second + first;
    folder.Write("j", bytes);
    Journal j;
    std::vector<JournalRecord> records;
    std::string error;
    EXPECT_FALSE(j.Open(folder.File("j"), &records, &error));
    EXPECT_NE(error.find("damaged record header"), std::string::npos) << error;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].time, Sec(1));
    EXPECT_EQ(folder.Read("j"), bytes);
    EXPECT_EQ(folder.Read("j.orig-1"), "");
    EXPECT_FALSE(j.Append(SetRecord("A", 3, Value(3.0))));
    EXPECT_EQ(folder.Read("j"), bytes);
}

// The limit on records is checked when writing as when reading: the largest
// text that fits is written and read back, one unit more is refused.
TEST(JournalFile, WhatCannotBeReplayedIsRefusedWhenAppended)
{
    TempFolder folder;
    Journal j;
    std::vector<JournalRecord> records;
    std::string error;
    ASSERT_TRUE(j.Open(folder.File("j"), &records, &error)) << error;
    // Payload: 1 + 2 + 1 (the ID "A") + 8 + 8 + 4 + 2 + 4 + 2 per unit.
    const size_t largest = (historian::kMaxJournalPayload - 30) / 2;
    JournalRecord tooLarge = SetRecord("A", 1, Value::Text(std::wstring(largest + 1, L'x')));
    EXPECT_FALSE(historian::RecordFits(tooLarge));
    EXPECT_FALSE(j.Append(tooLarge));
    EXPECT_EQ(folder.Read("j"), kHeader) << "nothing written";
    JournalRecord fits = SetRecord("A", 2, Value::Text(std::wstring(largest, L'y')));
    EXPECT_TRUE(historian::RecordFits(fits));
    EXPECT_TRUE(j.Append(fits));

    JournalImage image = Parse(folder.Read("j"));
    ASSERT_EQ(image.records.size(), 1u);
    EXPECT_EQ(SysStringLen(image.records[0].value.Get().bstrVal), largest);
}

// A journal of the first format (records without the header check) is
// replayed, kept beside, and rewritten in the current format.
TEST(JournalFile, AJournalOfTheFirstFormatReplaysAndIsRewritten)
{
    auto firstFormat = [](const JournalRecord &r) {
        std::string record = EncodeRecord(r);
        return record.substr(0, 8) + record.substr(historian::kRecordHeaderSize);
    };
    TempFolder folder;
    const std::string third = firstFormat(SetRecord("A", 3, Value(3.0)));
    const std::string bytes = "ZQHJRNL1" + firstFormat(SetRecord("A", 1, Value(1.0))) +
                              firstFormat(SetRecord("B", 2, Value::Text(L"two"))) +
                              third.substr(0, 10);
    folder.Write("j", bytes);
    std::vector<JournalRecord> records;
    std::string error;
    {
        Journal j;
        ASSERT_TRUE(j.Open(folder.File("j"), &records, &error)) << error;
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].item, "B");
        EXPECT_TRUE(j.Upgraded());
        EXPECT_EQ(j.TornBytes(), 10u);
        EXPECT_EQ(folder.Read("j.orig-1"), bytes);
        EXPECT_TRUE(j.Append(SetRecord("A", 4, Value(4.0))));
    }
    EXPECT_EQ(folder.Read("j").substr(0, 8), kHeader);
    Journal j;
    ASSERT_TRUE(j.Open(folder.File("j"), &records, &error)) << error;
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].time, Sec(4));
    EXPECT_FALSE(j.Upgraded());
}

TEST(JournalFile, AForeignFileIsLeftAlone)
{
    TempFolder folder;
    folder.Write("notes.txt", "Dear diary, today the boiler ran hot.");
    Journal j;
    std::vector<JournalRecord> records;
    std::string error;
    EXPECT_FALSE(j.Open(folder.File("notes.txt"), &records, &error));
    EXPECT_EQ(folder.Read("notes.txt"), "Dear diary, today the boiler ran hot.");
    EXPECT_FALSE(j.Append(SetRecord("A", 1, Value(1.0))));
}

} // namespace
