#include "journal.h"

#include <cstring>

#include "opchda.h"

namespace historian {

namespace {

// The first format's header; its records lack the header check.
const char kHeaderV1[] = "ZQHJRNL1";
constexpr size_t kRecordHeaderSizeV1 = 8;

template <typename T> void Put(std::string &out, T v)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<char>(static_cast<uint64_t>(v) >> (8 * i)));
}

class Reader
{
public:
    Reader(const char *p, size_t n) : p_(p), n_(n) {}
    template <typename T> bool Get(T *v)
    {
        if (n_ - at_ < sizeof(T))
            return false;
        uint64_t x = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            x |= static_cast<uint64_t>(static_cast<unsigned char>(p_[at_ + i])) << (8 * i);
        at_ += sizeof(T);
        *v = static_cast<T>(x);
        return true;
    }
    bool Bytes(void *to, size_t count)
    {
        if (n_ - at_ < count)
            return false;
        std::memcpy(to, p_ + at_, count);
        at_ += count;
        return true;
    }
    bool AtEnd() const { return at_ == n_; }

private:
    const char *p_;
    size_t n_;
    size_t at_ = 0;
};

// A length-prefixed byte string (user names, annotation texts).
template <typename Length> bool GetText(Reader &in, std::string *text)
{
    Length length = 0;
    if (!in.Get(&length))
        return false;
    text->assign(length, '\0');
    return length == 0 || in.Bytes(&(*text)[0], length);
}

bool DecodeEntry(Reader &in, size_t n, JournalRecord *r)
{
    uint8_t op = 0;
    uint16_t idLength = 0;
    if (!in.Get(&op) || op < 1 || op > 5 || !in.Get(&idLength))
        return false;
    r->op = static_cast<JournalOp>(op);
    r->item.assign(idLength, '\0');
    uint16_t vt = 0;
    if (!in.Bytes(&r->item[0], idLength) || !in.Get(&r->time) || !in.Get(&r->last) ||
        !in.Get(&r->quality) || !in.Get(&vt) || !IsStorableType(vt))
        return false;
    r->value = Value();
    VARIANT &v = r->value.Raw();
    if (vt == VT_BSTR) {
        uint32_t units = 0;
        if (!in.Get(&units) || units > (n / 2))
            return false;
        std::wstring text(units, L'\0');
        for (uint32_t i = 0; i < units; ++i) {
            uint16_t u = 0;
            if (!in.Get(&u))
                return false;
            text[i] = static_cast<wchar_t>(u);
        }
        r->value = Value::Text(text);
        if (r->value.Type() != VT_BSTR)
            return false;
    } else {
        uint64_t bits = 0;
        size_t size = FixedSize(vt);
        for (size_t i = 0; i < size; ++i) {
            uint8_t b = 0;
            if (!in.Get(&b))
                return false;
            bits |= static_cast<uint64_t>(b) << (8 * i);
        }
        v.vt = vt;
        std::memcpy(&v.llVal, &bits, size);
    }
    if (r->op == JournalOp::Edited) {
        uint8_t edit = 0;
        if (!in.Get(&edit) || edit < OPCHDA_INSERT || edit > OPCHDA_DELETE)
            return false;
        r->editType = edit;
        return GetText<uint16_t>(in, &r->user);
    }
    if (r->op == JournalOp::Annotation)
        return GetText<uint16_t>(in, &r->user) && GetText<uint32_t>(in, &r->text);
    return true;
}

// The entries of one record's payload, all of them or none.
bool DecodePayload(const char *p, size_t n, std::vector<JournalRecord> *entries)
{
    Reader in(p, n);
    std::vector<JournalRecord> decoded;
    do {
        JournalRecord r;
        if (!DecodeEntry(in, n, &r))
            return false;
        decoded.push_back(std::move(r));
    } while (!in.AtEnd());
    for (JournalRecord &r : decoded)
        entries->push_back(std::move(r));
    return true;
}

bool AllZero(const std::string &s, size_t from)
{
    for (size_t i = from; i < s.size(); ++i)
        if (s[i] != 0)
            return false;
    return true;
}

} // namespace

uint32_t Crc32(const void *data, size_t size)
{
    static uint32_t table[256];
    static bool ready = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)ready;
    uint32_t c = 0xFFFFFFFFu;
    const unsigned char *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

namespace {

// Texts longer than their length field are cut (RecordFits refuses them).
template <typename Length> void PutText(std::string &out, const std::string &text)
{
    const size_t most = static_cast<Length>(~Length(0));
    const size_t length = text.size() > most ? most : text.size();
    Put<Length>(out, static_cast<Length>(length));
    out.append(text, 0, length);
}

std::string EncodePayload(const JournalRecord &r)
{
    std::string payload;
    Put<uint8_t>(payload, static_cast<uint8_t>(r.op));
    uint16_t idLength = static_cast<uint16_t>(r.item.size() > 0xFFFF ? 0xFFFF : r.item.size());
    Put<uint16_t>(payload, idLength);
    payload.append(r.item, 0, idLength);
    Put<uint64_t>(payload, r.time);
    Put<uint64_t>(payload, r.last);
    Put<uint32_t>(payload, r.quality);
    const VARIANT &v = r.value.Get();
    Put<uint16_t>(payload, v.vt);
    if (v.vt == VT_BSTR) {
        uint32_t units = v.bstrVal != nullptr ? SysStringLen(v.bstrVal) : 0;
        Put<uint32_t>(payload, units);
        for (uint32_t i = 0; i < units; ++i)
            Put<uint16_t>(payload, static_cast<uint16_t>(v.bstrVal[i]));
    } else {
        uint64_t bits = 0;
        std::memcpy(&bits, &v.llVal, FixedSize(v.vt));
        for (size_t i = 0; i < FixedSize(v.vt); ++i)
            Put<uint8_t>(payload, static_cast<uint8_t>(bits >> (8 * i)));
    }
    if (r.op == JournalOp::Edited) {
        Put<uint8_t>(payload, static_cast<uint8_t>(r.editType));
        PutText<uint16_t>(payload, r.user);
    } else if (r.op == JournalOp::Annotation) {
        PutText<uint16_t>(payload, r.user);
        PutText<uint32_t>(payload, r.text);
    }
    return payload;
}

// The payload's size without encoding it: fixed fields, item ID, value.
uint64_t PayloadSize(const JournalRecord &r)
{
    const VARIANT &v = r.value.Get();
    uint64_t value = v.vt == VT_BSTR
                         ? 4 + 2ull * (v.bstrVal != nullptr ? SysStringLen(v.bstrVal) : 0)
                         : FixedSize(v.vt);
    uint64_t trailer = r.op == JournalOp::Edited       ? 1 + 2 + r.user.size()
                       : r.op == JournalOp::Annotation ? 2 + r.user.size() + 4 + r.text.size()
                                                       : 0;
    return 1 + 2 + r.item.size() + 8 + 8 + 4 + 2 + value + trailer;
}

// The length fields of the item ID and user name; an annotation text's u32
// length is bounded by the payload limit (PayloadSize counts it).
bool EntryFits(const JournalRecord &r)
{
    return r.item.size() <= 0xFFFF && r.user.size() <= 0xFFFF;
}

// The record header of a payload: size, checksum and the check of both.
std::string RecordHeader(const std::string &payload)
{
    std::string header;
    Put<uint32_t>(header, static_cast<uint32_t>(payload.size()));
    Put<uint32_t>(header, Crc32(payload.data(), payload.size()));
    Put<uint32_t>(header, Crc32(header.data(), header.size()));
    return header;
}

std::string At(size_t pos) { return " at offset " + std::to_string(pos); }

} // namespace

bool RecordFits(const JournalRecord &r)
{
    return EntryFits(r) && PayloadSize(r) <= kMaxJournalPayload;
}

bool RecordFits(const std::vector<JournalRecord> &entries)
{
    uint64_t size = 0;
    for (const JournalRecord &r : entries) {
        if (!EntryFits(r))
            return false;
        size += PayloadSize(r);
    }
    return !entries.empty() && size <= kMaxJournalPayload;
}

std::string EncodeRecord(const JournalRecord &r)
{
    std::string payload = EncodePayload(r);
    return RecordHeader(payload) + payload;
}

std::string EncodeRecord(const std::vector<JournalRecord> &entries)
{
    std::string payload;
    for (const JournalRecord &r : entries)
        payload += EncodePayload(r);
    return RecordHeader(payload) + payload;
}

bool ParseJournal(const std::string &image, JournalImage *out, std::string *error)
{
    *out = JournalImage();
    if (image.size() < kJournalHeaderSize) {
        // Empty, or the header itself was torn when the journal was created.
        if (std::memcmp(image.data(), kJournalHeader, image.size()) != 0) {
            *error = "not a historian journal";
            return false;
        }
        out->tornBytes = image.size();
        return true;
    }
    if (std::memcmp(image.data(), kJournalHeader, kJournalHeaderSize) == 0)
        out->version = 2;
    else if (std::memcmp(image.data(), kHeaderV1, kJournalHeaderSize) == 0)
        out->version = 1;
    else {
        *error = "not a historian journal";
        return false;
    }
    out->hasHeader = true;
    const size_t headerSize = out->version == 2 ? kRecordHeaderSize : kRecordHeaderSizeV1;
    size_t pos = kJournalHeaderSize;
    auto damage = [&](const std::string &what) {
        out->validBytes = pos;
        *error = what + At(pos);
        return false;
    };
    while (pos < image.size()) {
        const size_t remaining = image.size() - pos;
        if (remaining < headerSize)
            break; // a torn record header
        Reader head(image.data() + pos, remaining);
        uint32_t size = 0, crc = 0, check = 0;
        head.Get(&size);
        head.Get(&crc);
        if (out->version == 2) {
            head.Get(&check);
            if (Crc32(image.data() + pos, 8) != check) {
                if (AllZero(image, pos))
                    break; // space the file had before the record reached it
                return damage("damaged record header");
            }
        }
        if (size == 0 || size > kMaxJournalPayload) {
            // Without the header check a torn size cannot be told from a
            // damaged one except by the zeros of a tail.
            if (out->version == 1 && AllZero(image, pos))
                break;
            return damage("damaged record (size " + std::to_string(size) + ")");
        }
        if (remaining - headerSize < size)
            break; // the payload runs past the end: torn
        const char *payload = image.data() + pos + headerSize;
        if (Crc32(payload, size) != crc)
            return damage("damaged record (checksum)");
        if (!DecodePayload(payload, size, &out->records))
            return damage("unreadable record");
        pos += headerSize + size;
    }
    out->validBytes = pos;
    out->tornBytes = image.size() - pos;
    return true;
}

Journal::~Journal()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
}

namespace {

bool WriteAll(HANDLE file, const char *data, size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        DWORD chunk = size > 0x100000 ? 0x100000 : static_cast<DWORD>(size);
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool CutAt(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
           FlushFileBuffers(file);
}

std::string LastError(const char *what)
{
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

} // namespace

namespace {

// Writes the original contents of path to the first free "<path>.orig-<n>";
// its name, or empty with a reason.
std::string KeepOriginal(const std::string &path, const std::string &image, std::string *error)
{
    for (int n = 1; n <= 1000; ++n) {
        std::string name = path + ".orig-" + std::to_string(n);
        HANDLE copy = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (copy == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            break;
        }
        bool ok = WriteAll(copy, image.data(), image.size()) && FlushFileBuffers(copy);
        CloseHandle(copy);
        if (ok)
            return name;
        DeleteFileA(name.c_str());
        break;
    }
    *error = LastError("cannot keep the original journal beside it");
    return std::string();
}

} // namespace

bool Journal::Open(const std::string &path, std::vector<JournalRecord> *records,
                   std::string *error)
{
    records->clear();
    error->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = LastError("cannot open the journal");
        return false;
    }
    std::string image;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        image.append(buffer, got);

    JournalImage parsed;
    bool sound = ParseJournal(image, &parsed, error);
    // What the file becomes: a new journal's header, the records in the
    // current format, or the complete records without the torn tail.
    std::string rewrite;
    bool cut = false;
    if (sound && !parsed.hasHeader) {
        rewrite = std::string(kJournalHeader, kJournalHeaderSize);
    } else if (sound && parsed.version == 1) {
        rewrite = std::string(kJournalHeader, kJournalHeaderSize);
        for (const JournalRecord &r : parsed.records)
            rewrite += EncodeRecord(r);
    } else {
        cut = sound && parsed.tornBytes != 0;
    }
    std::string keptAs;
    if (sound && !image.empty() && (cut || !rewrite.empty())) {
        keptAs = KeepOriginal(path, image, error);
        sound = !keptAs.empty();
    }
    if (sound && !rewrite.empty()) {
        sound = CutAt(file, 0) && WriteAll(file, rewrite.data(), rewrite.size()) &&
                FlushFileBuffers(file);
        parsed.validBytes = rewrite.size();
    } else if (sound && cut) {
        sound = CutAt(file, parsed.validBytes);
    }
    if (!sound) {
        if (error->empty())
            *error = LastError("cannot prepare the journal");
        CloseHandle(file);
        // What was sound before the damage, for reading.
        *records = std::move(parsed.records);
        return false;
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(parsed.validBytes);
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);

    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = file;
    end_ = parsed.validBytes;
    tornBytes_ = parsed.tornBytes;
    keptAs_ = keptAs;
    upgraded_ = parsed.version == 1;
    path_ = path;
    *records = std::move(parsed.records);
    return true;
}

bool Journal::Append(const JournalRecord &record)
{
    // Checked as the replay checks it: what cannot be read back is refused.
    if (!RecordFits(record))
        return false;
    return Write(EncodeRecord(record));
}

bool Journal::Append(const std::vector<JournalRecord> &entries)
{
    if (!RecordFits(entries))
        return false;
    return Write(EncodeRecord(entries));
}

bool Journal::Write(const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    if (WriteAll(file_, bytes.data(), bytes.size()) && FlushFileBuffers(file_)) {
        end_ += bytes.size();
        return true;
    }
    // Leave no partial record in front of the next one.
    CutAt(file_, end_);
    return false;
}

} // namespace historian
