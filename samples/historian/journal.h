// The update journal: every insert, replace and delete that a client was told
// succeeded is appended here and on the disk before the client hears of it,
// and replayed when the historian starts, so it survives a crash.
//
// File format (all numbers little-endian):
//   header   8 bytes "ZQHJRNL1"
//   record   u32 payload size, u32 CRC-32 (IEEE) of the payload, payload
//   payload  u8 operation (1 set value, 2 delete at a time, 3 delete a range)
//            u16 item ID length, the item ID's bytes
//            u64 time (set, delete at; the first time of a range)
//            u64 last (the last time of a range, inclusive; else 0)
//            u32 quality (set; else 0)
//            u16 VARTYPE of the value (set; else VT_EMPTY), then the value:
//            the bytes of a fixed-size type, or for VT_BSTR a u32 count of
//            UTF-16 units and the units
// A record is written with one WriteFile and flushed (FlushFileBuffers). A
// crash can therefore only leave the last record incomplete: a size that runs
// past the end of the file, a last record whose checksum fails, or a tail of
// zeros. Such a torn tail is dropped (and cut off the file) when the journal
// is opened. A bad record with intact data behind it is damage, not a torn
// write: the journal is then refused rather than silently shortened.
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
};

struct JournalRecord
{
    JournalOp op = JournalOp::Set;
    std::string item;
    Ticks time = 0;
    Ticks last = 0;
    DWORD quality = 0;
    Value value;
};

uint32_t Crc32(const void *data, size_t size);

// A whole record: size, checksum and payload.
std::string EncodeRecord(const JournalRecord &record);

struct JournalImage
{
    std::vector<JournalRecord> records;
    bool hasHeader = false;  // false: empty (or a torn header): a new journal
    uint64_t validBytes = 0; // header and complete records
    uint64_t tornBytes = 0;  // dropped from the end
};

// Reads the contents of a journal file. false with a reason when it is not a
// journal or is damaged before its end.
bool ParseJournal(const std::string &image, JournalImage *out, std::string *error);

class Journal
{
public:
    Journal() = default;
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    // Opens or creates the file (no other process may write it meanwhile),
    // returns its complete records and cuts off a torn tail.
    bool Open(const std::string &path, std::vector<JournalRecord> *records, std::string *error);
    // Appends one record; true only when it is written and flushed to disk.
    // Thread-safe. A failed append leaves the file as it was before.
    bool Append(const JournalRecord &record);
    uint64_t TornBytes() const { return tornBytes_; }
    const std::string &Path() const { return path_; }

private:
    std::mutex mutex_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t end_ = 0;
    uint64_t tornBytes_ = 0;
    std::string path_;
};

} // namespace historian
