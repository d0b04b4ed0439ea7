#include "trace_capture.h"

#include <windows.h>

#include <mutex>

#include "ZqHDAsvr.h"

namespace zqtest {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_texts;
std::vector<std::string> g_raw;

void __stdcall Collect(char *text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_texts.emplace_back(text);
    g_raw.emplace_back(text, 100);
}
} // namespace

TraceCapture::TraceCapture()
{
    Clear();
    EnableHDAEventMsgs(Collect);
}

TraceCapture::~TraceCapture() { EnableHDAEventMsgs(nullptr); }

std::vector<std::string> TraceCapture::Texts() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_texts;
}

std::vector<std::string> TraceCapture::RawBuffers() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_raw;
}

int TraceCapture::Count(const std::string &text) const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    int n = 0;
    for (const auto &t : g_texts)
        n += t == text ? 1 : 0;
    return n;
}

void TraceCapture::Clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_texts.clear();
    g_raw.clear();
}

} // namespace zqtest
