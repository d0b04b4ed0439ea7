#include "output.h"

#include <algorithm>
#include <cwctype>

namespace zqhda {

namespace {

const wchar_t kEol[] = L"\r\n";

bool IsJsonNumber(const std::wstring &s)
{
    size_t i = 0, n = s.size();
    auto digits = [&] {
        size_t start = i;
        while (i < n && s[i] >= L'0' && s[i] <= L'9')
            ++i;
        return i > start;
    };
    if (i < n && s[i] == L'-')
        ++i;
    if (i < n && s[i] == L'0')
        ++i;
    else if (!digits())
        return false;
    if (i < n && s[i] == L'.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < n && (s[i] == L'e' || s[i] == L'E')) {
        ++i;
        if (i < n && (s[i] == L'+' || s[i] == L'-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == n;
}

std::wstring JsonValue(const Cell &cell)
{
    switch (cell.kind) {
    case Cell::Kind::Null:
        return L"null";
    case Cell::Kind::Bool:
        return cell.text;
    case Cell::Kind::Number:
        return IsJsonNumber(cell.text) ? cell.text : JsonString(cell.text);
    case Cell::Kind::List: {
        std::wstring s = L"[";
        for (size_t i = 0; i < cell.items.size(); ++i)
            s += (i ? L", " : L"") + JsonValue(cell.items[i]);
        return s + L"]";
    }
    case Cell::Kind::Text:
        break;
    }
    return JsonString(cell.text);
}

// Appends the code point (or U+FFFD for a lone surrogate) that starts at i.
void AppendUtf8(const std::wstring &text, size_t &i, std::string &out)
{
    unsigned long cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::wstring Pad(const std::wstring &text, size_t width, bool right)
{
    if (text.size() >= width)
        return text;
    std::wstring fill(width - text.size(), L' ');
    return right ? fill + text : text + fill;
}

}  // namespace

HandleSink::HandleSink(DWORD stdHandle) : handle_(GetStdHandle(stdHandle))
{
    DWORD mode = 0;
    console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
}

void HandleSink::Write(const std::wstring &text)
{
    if (!handle_ || handle_ == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD written = 0;
    if (console_) {
        WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes = Utf8(text);
    WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Utf8(const std::wstring &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        AppendUtf8(text, i, out);
    return out;
}

std::wstring Widen(const std::string &utf8)
{
    if (utf8.empty())
        return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::wstring JsonString(const std::wstring &text)
{
    std::wstring s = L"\"";
    for (wchar_t ch : text) {
        switch (ch) {
        case L'"': s += L"\\\""; break;
        case L'\\': s += L"\\\\"; break;
        case L'\n': s += L"\\n"; break;
        case L'\r': s += L"\\r"; break;
        case L'\t': s += L"\\t"; break;
        case L'\b': s += L"\\b"; break;
        case L'\f': s += L"\\f"; break;
        default:
            if (ch < 0x20 || (ch >= 0xD800 && ch <= 0xDFFF) || ch == 0x2028 || ch == 0x2029) {
                // Control characters must be escaped; surrogates are escaped
                // too, so that a lone one still gives a valid document.
                wchar_t esc[8];
                swprintf(esc, 8, L"\\u%04x", static_cast<unsigned>(ch));
                s += esc;
            } else {
                s += ch;
            }
        }
    }
    return s + L"\"";
}

std::wstring CsvField(const std::wstring &text)
{
    bool quote = text.find_first_of(L",\"\r\n") != std::wstring::npos ||
                 (!text.empty() && (iswspace(text.front()) || iswspace(text.back())));
    if (!quote)
        return text;
    std::wstring s = L"\"";
    for (wchar_t ch : text) {
        if (ch == L'"')
            s += L'"';
        s += ch;
    }
    return s + L"\"";
}

std::wstring CellText(const Cell &cell)
{
    if (cell.kind != Cell::Kind::List)
        return cell.text;
    std::wstring s = L"[";
    for (size_t i = 0; i < cell.items.size(); ++i)
        s += (i ? L", " : L"") + CellText(cell.items[i]);
    return s + L"]";
}

Report::Report(Format format, TextSink &out, TextSink &err) : format_(format), out_(out), err_(err) {}

void Report::Separator()
{
    if (format_ == Format::Json)
        out_.Write(anySection_ ? std::wstring(L",") + kEol : std::wstring(L"{") + kEol);
    else if (anySection_)
        out_.Write(kEol);
    anySection_ = true;
}

void Report::BeginSection(const std::wstring &name, std::vector<std::wstring> columns, bool record)
{
    if (open_)
        EndSection();
    Separator();
    section_ = name;
    columns_ = std::move(columns);
    record_ = record;
    open_ = true;
    rowsInSection_ = false;
    rows_.clear();
    if (format_ == Format::Csv) {
        std::wstring line;
        for (size_t i = 0; i < columns_.size(); ++i)
            line += (i ? L"," : L"") + CsvField(columns_[i]);
        out_.Write(line + kEol);
    } else if (format_ == Format::Json) {
        out_.Write(L"  " + JsonString(name) + (record ? L": " : std::wstring(L": [") + kEol));
    }
}

void Report::Row(std::vector<Cell> cells)
{
    cells.resize(columns_.size());
    if (format_ == Format::Table) {
        rows_.push_back(std::move(cells));
        return;
    }
    if (format_ == Format::Csv) {
        std::wstring line;
        for (size_t i = 0; i < cells.size(); ++i)
            line += (i ? L"," : L"") + CsvField(CellText(cells[i]));
        out_.Write(line + kEol);
        return;
    }
    if (record_ && rowsInSection_)
        return;  // a record section holds one object
    std::wstring obj = record_ ? L"{" : (rowsInSection_ ? std::wstring(L",") + kEol : L"") + L"    {";
    for (size_t i = 0; i < cells.size(); ++i)
        obj += (i ? L", " : L"") + JsonString(columns_[i]) + L": " + JsonValue(cells[i]);
    out_.Write(obj + L"}");
    rowsInSection_ = true;
}

void Report::RenderTable()
{
    if (record_) {
        size_t width = 0;
        for (const auto &c : columns_)
            width = std::max(width, c.size());
        for (const auto &row : rows_)
            for (size_t i = 0; i < columns_.size(); ++i)
            {
                std::wstring line = Pad(columns_[i] + L":", width + 2, false) + CellText(row[i]);
                while (line.back() == L' ')
                    line.pop_back();
                out_.Write(line + kEol);
            }
        rows_.clear();
        return;
    }
    std::vector<size_t> widths;
    std::vector<bool> right;
    for (size_t i = 0; i < columns_.size(); ++i) {
        size_t w = columns_[i].size();
        bool numeric = !rows_.empty();
        for (const auto &row : rows_) {
            w = std::max(w, CellText(row[i]).size());
            numeric = numeric && (row[i].kind == Cell::Kind::Number || row[i].kind == Cell::Kind::Null);
        }
        widths.push_back(w);
        right.push_back(numeric);
    }
    auto line = [&](auto text, auto pad) {
        std::wstring s;
        for (size_t i = 0; i < columns_.size(); ++i) {
            bool last = i + 1 == columns_.size();
            std::wstring t = text(i);
            s += (i ? L"  " : L"") + (last && !right[i] ? t : Pad(t, widths[i], right[i] && pad));
        }
        while (!s.empty() && s.back() == L' ')
            s.pop_back();
        out_.Write(s + kEol);
    };
    line([&](size_t i) { return columns_[i]; }, true);
    line([&](size_t i) { return std::wstring(widths[i], L'-'); }, false);
    for (const auto &row : rows_)
        line([&](size_t i) { return CellText(row[i]); }, true);
    rows_.clear();
    rowsInSection_ = true;
}

void Report::Flush()
{
    if (open_ && format_ == Format::Table && !rows_.empty())
        RenderTable();
}

void Report::EndSection()
{
    if (!open_)
        return;
    if (format_ == Format::Table && (!rows_.empty() || !rowsInSection_))
        RenderTable();
    if (format_ == Format::Json) {
        if (record_)
            out_.Write(rowsInSection_ ? L"" : L"null");
        else
            out_.Write((rowsInSection_ ? std::wstring(kEol) : L"") + L"  ]");
    }
    open_ = false;
}

void Report::Status(const std::wstring &subject, HRESULT code, const std::wstring &name, const std::wstring &text)
{
    wchar_t hex[16];
    swprintf(hex, 16, L"0x%08X", static_cast<unsigned>(code));
    bool failed = FAILED(code);
    std::wstring line = L"zqhda: " + subject + L": " + (failed ? L"error " : L"note ") + hex;
    if (!name.empty())
        line += L" " + name;
    if (!text.empty())
        line += L": " + text;
    err_.Write(line + kEol);
    statusJson_.push_back(L"{\"subject\": " + JsonString(subject) + L", \"code\": " + JsonString(hex) +
                          L", \"name\": " + (name.empty() ? L"null" : JsonString(name)) + L", \"text\": " +
                          JsonString(text) + L", \"failed\": " + (failed ? L"true" : L"false") + L"}");
}

void Report::Message(const std::wstring &text)
{
    err_.Write(L"zqhda: " + text + kEol);
}

void Report::Line(const std::wstring &text)
{
    out_.Write(text + kEol);
}

void Report::Finish()
{
    if (finished_)
        return;
    EndSection();
    finished_ = true;
    if (format_ != Format::Json)
        return;
    Separator();
    std::wstring s = L"  \"diagnostics\": [";
    for (size_t i = 0; i < statusJson_.size(); ++i)
        s += (i ? std::wstring(L",") : L"") + kEol + L"    " + statusJson_[i];
    s += (statusJson_.empty() ? L"" : std::wstring(kEol) + L"  ") + L"]" + kEol + L"}" + kEol;
    out_.Write(s);
}

}  // namespace zqhda
