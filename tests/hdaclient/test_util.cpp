#include "test_util.h"

#include <cwctype>

namespace clienttest {

using namespace zqhda;

namespace {

class JsonReader
{
public:
    explicit JsonReader(const std::wstring &text) : s_(text) {}

    bool Document(Json &out, std::wstring &error)
    {
        bool ok = Value(out, 0);
        Blanks();
        if (ok && pos_ != s_.size())
            ok = Fail(L"text after the document");
        if (!ok)
            error = error_ + L" at " + std::to_wstring(pos_);
        return ok;
    }

private:
    bool Fail(const wchar_t *what)
    {
        if (error_.empty())
            error_ = what;
        return false;
    }
    void Blanks()
    {
        while (pos_ < s_.size() && (s_[pos_] == L' ' || s_[pos_] == L'\t' || s_[pos_] == L'\r' || s_[pos_] == L'\n'))
            ++pos_;
    }
    bool Literal(const wchar_t *word)
    {
        std::wstring w = word;
        if (s_.compare(pos_, w.size(), w) != 0)
            return Fail(L"bad literal");
        pos_ += w.size();
        return true;
    }
    bool Hex4(unsigned &value)
    {
        value = 0;
        for (int i = 0; i < 4; ++i, ++pos_) {
            if (pos_ >= s_.size() || !iswxdigit(s_[pos_]))
                return Fail(L"bad \\u escape");
            wchar_t c = s_[pos_];
            value = value * 16 + (iswdigit(c) ? c - L'0' : (towlower(c) - L'a' + 10));
        }
        return true;
    }
    bool String(std::wstring &out)
    {
        if (s_[pos_] != L'"')
            return Fail(L"expected a string");
        ++pos_;
        while (pos_ < s_.size() && s_[pos_] != L'"') {
            wchar_t c = s_[pos_++];
            if (c < 0x20)
                return Fail(L"unescaped control character");
            if (c != L'\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size())
                return Fail(L"escape at the end");
            wchar_t e = s_[pos_++];
            static const std::wstring plain = L"\"\\/bfnrt", meant = L"\"\\/\b\f\n\r\t";
            size_t k = plain.find(e);
            if (k != std::wstring::npos) {
                out += meant[k];
            } else if (e == L'u') {
                unsigned v = 0;
                if (!Hex4(v))
                    return false;
                out += static_cast<wchar_t>(v);
            } else {
                return Fail(L"bad escape");
            }
        }
        if (pos_ >= s_.size())
            return Fail(L"unterminated string");
        ++pos_;
        return true;
    }
    bool Number(std::wstring &out)
    {
        size_t start = pos_;
        auto digits = [&] {
            size_t from = pos_;
            while (pos_ < s_.size() && iswdigit(s_[pos_]))
                ++pos_;
            return pos_ > from;
        };
        if (s_[pos_] == L'-')
            ++pos_;
        if (pos_ < s_.size() && s_[pos_] == L'0')
            ++pos_;
        else if (!digits())
            return Fail(L"bad number");
        if (pos_ < s_.size() && s_[pos_] == L'.') {
            ++pos_;
            if (!digits())
                return Fail(L"bad fraction");
        }
        if (pos_ < s_.size() && (s_[pos_] == L'e' || s_[pos_] == L'E')) {
            ++pos_;
            if (pos_ < s_.size() && (s_[pos_] == L'+' || s_[pos_] == L'-'))
                ++pos_;
            if (!digits())
                return Fail(L"bad exponent");
        }
        out = s_.substr(start, pos_ - start);
        return true;
    }
    bool Value(Json &out, int depth)
    {
        Blanks();
        if (pos_ >= s_.size() || depth > 64)
            return Fail(L"expected a value");
        wchar_t c = s_[pos_];
        if (c == L'{') {
            out.type = Json::Type::Object;
            ++pos_;
            Blanks();
            if (pos_ < s_.size() && s_[pos_] == L'}') {
                ++pos_;
                return true;
            }
            for (;;) {
                Blanks();
                std::pair<std::wstring, Json> member;
                if (pos_ >= s_.size() || !String(member.first))
                    return Fail(L"expected a key");
                Blanks();
                if (pos_ >= s_.size() || s_[pos_++] != L':')
                    return Fail(L"expected ':'");
                if (!Value(member.second, depth + 1))
                    return false;
                out.members.push_back(std::move(member));
                Blanks();
                if (pos_ < s_.size() && s_[pos_] == L',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == L'}') {
                    ++pos_;
                    return true;
                }
                return Fail(L"expected ',' or '}'");
            }
        }
        if (c == L'[') {
            out.type = Json::Type::Array;
            ++pos_;
            Blanks();
            if (pos_ < s_.size() && s_[pos_] == L']') {
                ++pos_;
                return true;
            }
            for (;;) {
                Json item;
                if (!Value(item, depth + 1))
                    return false;
                out.items.push_back(std::move(item));
                Blanks();
                if (pos_ < s_.size() && s_[pos_] == L',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < s_.size() && s_[pos_] == L']') {
                    ++pos_;
                    return true;
                }
                return Fail(L"expected ',' or ']'");
            }
        }
        if (c == L'"') {
            out.type = Json::Type::String;
            return String(out.text);
        }
        if (c == L't' || c == L'f') {
            out.type = Json::Type::Bool;
            out.text = c == L't' ? L"true" : L"false";
            return Literal(out.text.c_str());
        }
        if (c == L'n') {
            out.type = Json::Type::Null;
            return Literal(L"null");
        }
        out.type = Json::Type::Number;
        return Number(out.text);
    }

    const std::wstring &s_;
    size_t pos_ = 0;
    std::wstring error_;
};

}  // namespace

const Json &Json::operator[](const std::wstring &key) const
{
    for (const auto &m : members)
        if (m.first == key)
            return m.second;
    ADD_FAILURE() << "no member " << Narrow(key);
    static const Json none;
    return none;
}

bool Json::Has(const std::wstring &key) const
{
    for (const auto &m : members)
        if (m.first == key)
            return true;
    return false;
}

bool ParseJson(const std::wstring &text, Json &out, std::wstring &error)
{
    out = Json{};
    return JsonReader(text).Document(out, error);
}

std::vector<std::vector<std::wstring>> ParseCsv(const std::wstring &text)
{
    std::vector<std::vector<std::wstring>> records;
    std::vector<std::wstring> record;
    std::wstring field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (quoted) {
            if (c == L'"' && i + 1 < text.size() && text[i + 1] == L'"') {
                field += L'"';
                ++i;
            } else if (c == L'"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        if (c == L'"') {
            quoted = any = true;
        } else if (c == L',') {
            record.push_back(field);
            field.clear();
            any = true;
        } else if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            any = false;
            ++i;
        } else {
            field += c;
            any = true;
        }
    }
    if (any || !field.empty()) {
        record.push_back(field);
        records.push_back(record);
    }
    return records;
}

RunResult RunClient(IUnknown *server, std::vector<std::wstring> args)
{
    RunResult result;
    args.insert(args.begin(), {L"--server", L"fake"});
    Options options;
    std::wstring error;
    if (!ParseArguments(args, options, error)) {
        result.exit = kExitFailed;
        result.err = error;
        return result;
    }
    StringSink out, err;
    {
        Session session;
        Report report(options.format, out, err);
        if (FAILED(session.Attach(server)))
            return result;
        result.exit = RunOnServer(options, session, report);
    }
    result.out = out.Text();
    result.err = err.Text();
    return result;
}

void FakeServerTest::SetUp()
{
    Signals::Reset();
    fake_ = new fake::FakeHistorian();
    std::vector<fake::Point> ramp;
    for (int i = 0; i < 100; ++i)
        ramp.push_back(fake::Point{TicksOf(fake::At(i)), static_cast<double>(i), 0x000400C0});
    fake_->AddItem(L"Ramp", ramp);
    std::vector<fake::Point> twin;
    const double seconds[] = {0, 1, 2, 2, 3, 3};
    for (int i = 0; i < 6; ++i)
        twin.push_back(fake::Point{TicksOf(fake::At(seconds[i])), i + 1.0, 0xC0});
    fake_->AddItem(L"Twin", twin);
}

void FakeServerTest::TearDown()
{
    fake_->Stop();
    fake_->Release();
    Signals::Reset();
}

std::string Narrow(const std::wstring &text)
{
    return Utf8(text);
}

}  // namespace clienttest
