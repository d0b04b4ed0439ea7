// The update journal: every insert, replace and delete that a client was told
// succeeded is appended here and on the disk before the client hears of it,
// and replayed when the historian starts, so it survives a crash.
//
// File format (all numbers little-endian):
//   header   8 bytes "ZQHJRNL2"
//   record   u32 payload size, u32 CRC-32 (IEEE) of the payload, u32 CRC-32
//            of those 8 bytes (the record header's own check), payload
//   payload  one or more entries, replayed together or not at all (an
//            update and the values it replaced or deleted are one record)
//   entry    u8 operation (1 set value, 2 delete at a time, 3 delete a range,
//            4 a value replaced or deleted, 5 an annotation)
//            u16 item ID length, the item ID's bytes
//            u64 time (set, delete at, the value's or annotation's time
//            stamp; the first time of a range)
//            u64 last (the last time of a range, inclusive; when a value was
//            replaced or deleted; when an annotation was made; else 0)
//            u32 quality (set, replaced or deleted value; else 0)
//            u16 VARTYPE of the value (set, replaced or deleted value; else
//            VT_EMPTY), then the value: the bytes of a fixed-size type, or
//            for VT_BSTR a u32 count of UTF-16 units and the units
//            then for 4: u8 edit type (OPCHDA_EDITTYPE), u16 user name
//            length and its bytes; for 5: u16 user name length and its
//            bytes, u32 annotation text length and its bytes (ANSI text)
// Records of journals written before operations 4 and 5 existed hold one
// entry of 1 to 3 each and replay as they always did. The first format,
// "ZQHJRNL1", had records without the header check. Such a journal is still
// replayed, and then rewritten in the current format.
//
// A record is written with one WriteFile and flushed (FlushFileBuffers). A
// crash can therefore only leave the last record incomplete: fewer bytes
// than a record header, a checked header whose payload runs past the end of
// the file, or a tail of zeros. Only that is a torn tail. Anything else is
// damage: a header that fails its check, a size beyond the limit, a complete
// record (the last one too) whose checksum fails or that cannot be decoded.
// A record the limits refuse is refused when it is appended, so that
// whatever is acknowledged can be replayed.
//
// The file is never cut or rewritten unless its original contents are first
// kept beside it, as "<journal>.orig-<n>" (the first n from 1 that is free).
// A damaged journal is not changed at all: the historian replays what was
// sound before the damage and runs without accepting updates.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "value.h"

namespace historian {

enum class JournalOp : uint8_t
{
    Set = 1,
    DeleteAt = 2,
    DeleteRange = 3,
    Edited = 4,     // a value that an update replaced or deleted
    Annotation = 5,
};

struct JournalRecord
{
    JournalOp op = JournalOp::Set;
    std::string item;
    Ticks time = 0;
    Ticks last = 0;
    DWORD quality = 0;
    Value value;
    int editType = 0;  // Edited: OPCHDA_REPLACE, OPCHDA_INSERTREPLACE, OPCHDA_DELETE
    std::string user;  // Edited, Annotation: who made it
    std::string text;  // Annotation: its text
};

uint32_t Crc32(const void *data, size_t size);

// The current format's file header.
constexpr char kJournalHeader[] = "ZQHJRNL2";
constexpr size_t kJournalHeaderSize = 8;
constexpr size_t kRecordHeaderSize = 12;
// Largest payload a record may have (a text value of about 8 million
// characters does not fit).
constexpr uint32_t kMaxJournalPayload = 1u << 24;

// A whole record: header and payload. RecordFits says whether the journal
// can hold it (payload within kMaxJournalPayload, item ID within 65535
// bytes); EncodeRecord of a record that does not fit is not replayable.
std::string EncodeRecord(const JournalRecord &record);
bool RecordFits(const JournalRecord &record);
// One record of several entries, replayed together or not at all.
std::string EncodeRecord(const std::vector<JournalRecord> &entries);
bool RecordFits(const std::vector<JournalRecord> &entries);

struct JournalImage
{
    std::vector<JournalRecord> records; // complete records (before any damage)
    bool hasHeader = false;  // false: empty (or a torn header): a new journal
    int version = 0;         // 1 or 2 with a header
    uint64_t validBytes = 0; // header and complete records
    uint64_t tornBytes = 0;  // a torn tail behind them
};

// Reads the contents of a journal file. false with a reason when it is not a
// journal or is damaged; the records before the damage are then in out.
bool ParseJournal(const std::string &image, JournalImage *out, std::string *error);

class Journal
{
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Opens or creates the file (no other process may write it meanwhile)
    // and returns its records. A torn tail is cut off and a journal of the
    // first format rewritten, each only after the original was kept beside
    // it (KeptAs). false with a reason when the file is not a journal, is
    // damaged, or cannot be kept or prepared: the file is then left as it
    // was, closed, and *records holds the records that were sound before
    // the damage (none for a foreign file).
    bool Open(const std::string &path, std::vector<JournalRecord> *records, std::string *error);
    // Appends one record; true only when it is written and flushed to disk.
    // Thread-safe. A failed append (a record that does not fit included)
    // leaves the file as it was before.
    bool Append(const JournalRecord &record);
    // Appends the entries as one record (all replayed, or none).
    bool Append(const std::vector<JournalRecord> &entries);
    uint64_t TornBytes() const { return tornBytes_; }
    // Where the original was kept when Open changed the file; else empty.
    const std::string &KeptAs() const { return keptAs_; }
    // The file was in the first format (and is now rewritten).
    bool Upgraded() const { return upgraded_; }
    const std::string &Path() const { return path_; }

private:
    bool Write(const std::string &bytes);

    std::mutex mutex_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t end_ = 0;
    uint64_t tornBytes_ = 0;
    std::string keptAs_;
    bool upgraded_ = false;
    std::string path_;
};

} // namespace historian
