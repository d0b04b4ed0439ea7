// Splitting item IDs at the qualifier, double-byte aware (item_registry.h).
#include "addrspace/item_registry.h"

#include <atomic>

#include "runtime/server_state.h"

namespace zq {

namespace {

std::atomic<UINT> g_codePage{CP_ACP};

bool IsLeadByte(UINT codePage, unsigned char b)
{
    // No double-byte code page has a lead byte below 0x80; the test keeps the
    // common (ASCII) case free of system calls.
    if (b < 0x80)
        return false;
    return (codePage == CP_ACP ? IsDBCSLeadByte(b) : IsDBCSLeadByteEx(codePage, b)) != FALSE;
}

// Position of the first qualifier in s, stepping over double-byte characters.
size_t FindQualifier(std::string_view s, char qualifier, UINT codePage)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (i + 1 < s.size() && IsLeadByte(codePage, static_cast<unsigned char>(s[i]))) {
            ++i;
            continue;
        }
        if (s[i] == qualifier)
            return i;
    }
    return std::string_view::npos;
}

} // namespace

ElementCursor::ElementCursor(std::string_view id, char qualifier, UINT codePage)
    : rest_(id), qualifier_(qualifier), codePage_(codePage)
{
}

bool ElementCursor::Next(std::string_view *element)
{
    if (rest_.empty())
        return false;
    size_t at = FindQualifier(rest_, qualifier_, codePage_);
    if (at == std::string_view::npos) {
        *element = rest_;
        rest_ = std::string_view();
    } else {
        *element = rest_.substr(0, at);
        rest_.remove_prefix(at + 1);
    }
    return true;
}

std::vector<std::string> SplitItemId(std::string_view id, char qualifier, UINT codePage)
{
    std::vector<std::string> elements;
    ElementCursor cursor(id, qualifier, codePage);
    std::string_view element;
    while (cursor.Next(&element))
        elements.emplace_back(element);
    return elements;
}

std::string_view AfterLastQualifier(std::string_view text, char qualifier, UINT codePage)
{
    // Forwards only: a double-byte string cannot be scanned from its end.
    size_t start = 0;
    for (;;) {
        size_t at = FindQualifier(text.substr(start), qualifier, codePage);
        if (at == std::string_view::npos)
            return text.substr(start);
        start += at + 1;
    }
}

UINT ItemIdCodePage() { return g_codePage.load(std::memory_order_relaxed); }
void SetItemIdCodePage(UINT codePage) { g_codePage.store(codePage); }

char Qualifier() { return State().settings.qualifier.load(); }

} // namespace zq
