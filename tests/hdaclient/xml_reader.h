// A strict reader for the XML the client writes (SVG plots): elements,
// attributes, text, comments, the XML declaration and the five predefined
// entities plus character references. Anything else (mismatched or unclosed
// tags, a bare '&' or '<', duplicate attributes, text outside the root) is
// an error, so that "the file is well-formed XML" is checked, not assumed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace clienttest {

struct XmlElement
{
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;  // character data directly inside, concatenated
    std::vector<std::unique_ptr<XmlElement>> children;

    std::string Attr(const std::string &key) const
    {
        auto it = attributes.find(key);
        return it == attributes.end() ? std::string() : it->second;
    }
    // Every element below (depth first) with this name and, when given, a
    // class attribute of that value.
    void FindAll(const std::string &element, const std::string &cls, std::vector<const XmlElement *> &out) const;
    std::vector<const XmlElement *> FindAll(const std::string &element, const std::string &cls = "") const
    {
        std::vector<const XmlElement *> out;
        FindAll(element, cls, out);
        return out;
    }
    // All text below, concatenated.
    std::string AllText() const;
};

// Parses a whole document; on failure `error` says what and where.
bool ParseXml(const std::string &text, std::unique_ptr<XmlElement> &root, std::string &error);

}  // namespace clienttest
