// Output of every command: sections of records, rendered as an aligned table,
// as CSV (RFC 4180, one header line per section) or as one JSON document
// ({"section": [{...}, ...], ..., "diagnostics": [...]}); and diagnostics on stderr.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zqhda {

enum class Format { Table, Csv, Json };

// One field of a record.
struct Cell
{
    enum class Kind { Null, Text, Number, Bool, List };
    Kind kind = Kind::Null;
    std::wstring text;        // Text: the text; Number: its decimal form; Bool: "true"/"false"
    std::vector<Cell> items;  // List

    static Cell Null() { return Cell{}; }
    static Cell Str(std::wstring text) { return Cell{Kind::Text, std::move(text), {}}; }
    static Cell Num(std::wstring text) { return Cell{Kind::Number, std::move(text), {}}; }
    static Cell Num(unsigned long long value) { return Num(std::to_wstring(value)); }
    static Cell Bool(bool value) { return Cell{Kind::Bool, value ? L"true" : L"false", {}}; }
    static Cell List(std::vector<Cell> items) { return Cell{Kind::List, {}, std::move(items)}; }
};

// Where text goes: a console (written as UTF-16), a file or pipe (UTF-8), or a
// string (tests).
class TextSink
{
public:
    virtual ~TextSink() = default;
    virtual void Write(const std::wstring &text) = 0;
    // A console (a terminal), as opposed to a file or pipe.
    virtual bool IsConsole() const { return false; }
};

class HandleSink final : public TextSink
{
public:
    explicit HandleSink(DWORD stdHandle);
    void Write(const std::wstring &text) override;
    bool IsConsole() const override { return console_; }

private:
    HANDLE handle_;
    bool console_;
};

class StringSink final : public TextSink
{
public:
    void Write(const std::wstring &text) override { text_ += text; }
    const std::wstring &Text() const { return text_; }

private:
    std::wstring text_;
};

std::string Utf8(const std::wstring &text);  // lone surrogates become U+FFFD
std::wstring Widen(const std::string &utf8);

// A JSON string literal, quotes included.
std::wstring JsonString(const std::wstring &text);
// A CSV field, quoted when it holds a comma, quote, CR, LF or edge blanks.
std::wstring CsvField(const std::wstring &text);
// Plain text of a cell (lists as "[a, b]").
std::wstring CellText(const Cell &cell);

class Report
{
public:
    Report(Format format, TextSink &out, TextSink &err);
    Report(const Report &) = delete;
    Report &operator=(const Report &) = delete;

    Format OutputFormat() const { return format_; }

    // A section of rows with these columns. A record section holds one row
    // (a table shows it as "name: value" lines, JSON as an object).
    void BeginSection(const std::wstring &name, std::vector<std::wstring> columns, bool record = false);
    void Row(std::vector<Cell> cells);
    // Table format: prints the rows collected so far (with the header) now;
    // CSV and JSON rows are written as they come anyway.
    void Flush();
    void EndSection();

    // The outcome of an item or a call that is not plain S_OK. Printed on
    // stderr ("error" for failure codes, "note" for success codes) and, in
    // JSON, listed under "diagnostics".
    void Status(const std::wstring &subject, HRESULT code, const std::wstring &name, const std::wstring &text);
    // Any other message for stderr ("zqhda: text").
    void Message(const std::wstring &text);
    TextSink &Err() { return err_; }
    // A line of free text on the output (a live view's plain lines).
    void Line(const std::wstring &text);
    bool OutputIsConsole() const { return out_.IsConsole(); }

    // Ends the output (the JSON document's closing part).
    void Finish();

private:
    void RenderTable();
    void Separator();

    Format format_;
    TextSink &out_;
    TextSink &err_;
    std::wstring section_;
    std::vector<std::wstring> columns_;
    std::vector<std::vector<Cell>> rows_;  // table format: rows not yet printed
    bool record_ = false;
    bool open_ = false;
    bool rowsInSection_ = false;
    bool anySection_ = false;
    bool finished_ = false;
    std::vector<std::wstring> statusJson_;
};

}  // namespace zqhda
