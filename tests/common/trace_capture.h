// Collects the texts of the trace channel while an instance is alive.
#pragma once

#include <string>
#include <vector>

namespace zqtest {

class TraceCapture
{
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    std::vector<std::string> Texts() const;
    // Number of traced texts equal to text.
    int Count(const std::string &text) const;
    bool Contains(const std::string &text) const { return Count(text) > 0; }
    void Clear();
    // The raw 100-byte buffers as received, for checks of termination.
    std::vector<std::string> RawBuffers() const;
};

} // namespace zqtest
