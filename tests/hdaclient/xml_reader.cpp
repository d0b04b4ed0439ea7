#include "xml_reader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace clienttest {

namespace {

class Reader
{
public:
    explicit Reader(const std::string &s) : s_(s) {}

    bool Document(std::unique_ptr<XmlElement> &root, std::string &error)
    {
        bool ok = Prolog() && Element(root) && Misc();
        if (ok && pos_ != s_.size())
            ok = Fail("text after the root element");
        if (!ok)
            error = error_ + " at byte " + std::to_string(pos_);
        return ok;
    }

private:
    bool Fail(const char *what)
    {
        if (error_.empty())
            error_ = what;
        return false;
    }
    bool At(const char *word) const { return s_.compare(pos_, std::strlen(word), word) == 0; }
    void Blanks()
    {
        while (pos_ < s_.size() && std::strchr(" \t\r\n", s_[pos_]) && s_[pos_])
            ++pos_;
    }
    bool Skip(const char *open, const char *close)
    {
        if (!At(open))
            return false;
        size_t end = s_.find(close, pos_ + std::strlen(open));
        if (end == std::string::npos)
            return Fail("unterminated comment or declaration");
        pos_ = end + std::strlen(close);
        return true;
    }
    bool Prolog()
    {
        if (At("<?xml"))
            Skip("<?xml", "?>");
        return Misc();
    }
    bool Misc()
    {
        for (;;) {
            Blanks();
            if (At("<!--")) {
                if (!Skip("<!--", "-->"))
                    return false;
            } else {
                return error_.empty();
            }
        }
    }
    static bool NameChar(char c)
    {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-' || c == '.' ||
               static_cast<unsigned char>(c) >= 0x80;
    }
    bool Name(std::string &out)
    {
        size_t start = pos_;
        while (pos_ < s_.size() && NameChar(s_[pos_]))
            ++pos_;
        if (pos_ == start || std::isdigit(static_cast<unsigned char>(s_[start])) || s_[start] == '-')
            return Fail("expected a name");
        out = s_.substr(start, pos_ - start);
        return true;
    }
    // Character data up to `stop`, with references resolved.
    bool Chars(char stop, std::string &out)
    {
        while (pos_ < s_.size() && s_[pos_] != stop) {
            char c = s_[pos_];
            if (c == '<')
                return stop == '<' ? true : Fail("'<' in an attribute value");
            if (c != '&') {
                out += c;
                ++pos_;
                continue;
            }
            size_t semi = s_.find(';', pos_);
            if (semi == std::string::npos || semi - pos_ > 10)
                return Fail("bare '&'");
            std::string ref = s_.substr(pos_ + 1, semi - pos_ - 1);
            static const char *const names[] = {"amp", "lt", "gt", "quot", "apos"};
            static const char values[] = "&<>\"'";
            bool known = false;
            for (int i = 0; i < 5; ++i)
                if (ref == names[i]) {
                    out += values[i];
                    known = true;
                }
            if (!known && ref.size() > 1 && ref[0] == '#') {
                char *end = nullptr;
                unsigned long cp = ref[1] == 'x' ? std::strtoul(ref.c_str() + 2, &end, 16)
                                                 : std::strtoul(ref.c_str() + 1, &end, 10);
                if (!end || *end || cp == 0)
                    return Fail("bad character reference");
                out += cp < 0x80 ? static_cast<char>(cp) : '?';
                known = true;
            }
            if (!known)
                return Fail("unknown entity");
            pos_ = semi + 1;
        }
        return true;
    }
    bool Element(std::unique_ptr<XmlElement> &out)
    {
        if (pos_ >= s_.size() || s_[pos_] != '<')
            return Fail("expected an element");
        ++pos_;
        out.reset(new XmlElement());
        if (!Name(out->name))
            return false;
        for (;;) {
            size_t before = pos_;
            Blanks();
            if (At("/>")) {
                pos_ += 2;
                return true;
            }
            if (At(">")) {
                ++pos_;
                break;
            }
            if (pos_ == before)
                return Fail("expected a blank before an attribute");
            std::string key, value;
            if (!Name(key))
                return false;
            Blanks();
            if (!At("="))
                return Fail("expected '='");
            ++pos_;
            Blanks();
            if (pos_ >= s_.size() || (s_[pos_] != '"' && s_[pos_] != '\''))
                return Fail("expected a quoted value");
            char quote = s_[pos_++];
            if (!Chars(quote, value))
                return false;
            if (pos_ >= s_.size())
                return Fail("unterminated attribute value");
            ++pos_;
            if (!out->attributes.emplace(key, value).second)
                return Fail("duplicate attribute");
        }
        for (;;) {
            if (!Chars('<', out->text))
                return false;
            if (pos_ >= s_.size())
                return Fail("unclosed element");
            if (At("<!--")) {
                if (!Skip("<!--", "-->"))
                    return false;
            } else if (At("</")) {
                pos_ += 2;
                std::string name;
                if (!Name(name))
                    return false;
                if (name != out->name)
                    return Fail("mismatched end tag");
                Blanks();
                if (!At(">"))
                    return Fail("expected '>'");
                ++pos_;
                return true;
            } else {
                std::unique_ptr<XmlElement> child;
                if (!Element(child))
                    return false;
                out->children.push_back(std::move(child));
            }
        }
    }

    const std::string &s_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

void XmlElement::FindAll(const std::string &element, const std::string &cls,
                         std::vector<const XmlElement *> &out) const
{
    for (const auto &c : children) {
        if (c->name == element && (cls.empty() || c->Attr("class") == cls))
            out.push_back(c.get());
        c->FindAll(element, cls, out);
    }
}

std::string XmlElement::AllText() const
{
    std::string s = text;
    for (const auto &c : children)
        s += c->AllText();
    return s;
}

bool ParseXml(const std::string &text, std::unique_ptr<XmlElement> &root, std::string &error)
{
    return Reader(text).Document(root, error);
}

}  // namespace clienttest
