#include "more_data.h"

namespace zqhda {

namespace {

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

size_t CountValues(const std::vector<ItemOutcome> &items)
{
    size_t n = 0;
    for (const auto &item : items)
        n += item.data.samples.size();
    return n;
}

}  // namespace

HRESULT SyncRawSource::ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                               const std::vector<Item> &entries, std::vector<ItemOutcome> &out)
{
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    auto call = [&](OPCHDA_ITEM **items, HRESULT **errors) {
        return read_->ReadRaw(&start, &end, maxValues, bounds, static_cast<DWORD>(handles.size()), handles.data(),
                              items, errors);
    };
    return ReadItems(entries, nullptr, nullptr, call, nullptr, out);
}

HRESULT AsyncRawSource::ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                                const std::vector<Item> &entries, std::vector<ItemOutcome> &out)
{
    std::vector<OPCHANDLE> handles = ServerHandles(entries);
    auto request = [&](DWORD tid, DWORD *cancelId, HRESULT **errors) {
        return read_->ReadRaw(tid, &start, &end, maxValues, bounds, static_cast<DWORD>(handles.size()),
                              handles.data(), cancelId, errors);
    };
    return ReadItems(entries, &transactions_, read_, nullptr, request, out);
}

ConsoleProgress::ConsoleProgress(bool enabled, const std::wstring &what) : what_(what), started_(GetTickCount())
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!enabled || !err || err == INVALID_HANDLE_VALUE || !GetConsoleMode(err, &mode))
        return;
    err_ = err;
    thread_ = std::thread([this] { Run(); });
}

ConsoleProgress::~ConsoleProgress()
{
    Done();
}

void ConsoleProgress::Update(size_t values, Ticks from, Ticks to)
{
    std::lock_guard<std::mutex> hold(lock_);
    values_ = values;
    from_ = from;
    to_ = to;
}

void ConsoleProgress::Followed()
{
    std::lock_guard<std::mutex> hold(lock_);
    followed_ = true;
    wake_.notify_all();
}

void ConsoleProgress::Run()
{
    std::unique_lock<std::mutex> hold(lock_);
    while (!stop_) {
        wake_.wait_for(hold, std::chrono::milliseconds(250));
        if (!stop_ && (followed_ || GetTickCount() - started_ >= 1000))
            Draw();
    }
}

// Called with lock_ held.
void ConsoleProgress::Draw()
{
    // Whole seconds are enough here: "2026-01-01T00:00:50Z".
    auto seconds = [](Ticks t) {
        std::wstring iso = FormatIsoTime(FileTimeOf(t - t % kTicksPerSecond));
        return iso.substr(0, 19) + L"Z";
    };
    std::wstring text = L"zqhda: " + what_ + L": " + std::to_wstring(values_) + L" values";
    if (from_ || to_)
        text += L", " + seconds(from_) + L" to " + seconds(to_);
    text += L" (" + std::to_wstring((GetTickCount() - started_) / 1000) + L" s)";
    // One line of the console, whatever was there before.
    CONSOLE_SCREEN_BUFFER_INFO info;
    size_t width = GetConsoleScreenBufferInfo(err_, &info) && info.dwSize.X > 1 ? info.dwSize.X - 1u : 79u;
    text.resize(width, L' ');
    text = L"\r" + text;
    DWORD written = 0;
    WriteConsoleW(err_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    shown_ = true;
}

void ConsoleProgress::Done()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        wake_.notify_all();
    }
    thread_.join();
    if (shown_) {
        std::wstring text = L"\r" + std::wstring(79, L' ') + L"\r";
        DWORD written = 0;
        WriteConsoleW(err_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        shown_ = false;
    }
}

namespace {

// Widens [from, to] by the time stamps of the samples.
void Cover(const std::vector<Sample> &samples, size_t first, Ticks &from, Ticks &to)
{
    for (size_t k = first; k < samples.size(); ++k) {
        Ticks t = TicksOf(samples[k].time);
        if (!from || t < from)
            from = t;
        if (t > to)
            to = t;
    }
}

}  // namespace

RawRead ReadRawFollowing(RawSource &source, const std::optional<TimeArg> &start, const std::optional<TimeArg> &end,
                         DWORD maxValues, bool bounds, bool all, const std::vector<Item> &entries,
                         Progress *progress)
{
    RawRead r;
    HdaTime first(start), last(end);
    r.call = source.ReadRaw(first.Get(), last.Get(), maxValues, bounds ? TRUE : FALSE, entries, r.items);
    if (FAILED(r.call))
        return r;
    r.items.resize(entries.size());
    size_t total = CountValues(r.items);
    Ticks coveredFrom = 0, coveredTo = 0;
    for (const auto &item : r.items)
        Cover(item.data.samples, 0, coveredFrom, coveredTo);
    if (progress)
        progress->Update(total, coveredFrom, coveredTo);
    // Later requests use the bounds as the first request resolved them, so
    // that "NOW" does not move while the data is followed.
    bool forward = !first.IsNull();
    HdaTime resolvedStart = first.Resolved(), resolvedEnd = last.Resolved();
    bool boundsKnown = forward && !resolvedStart.Get().bString && !last.IsNull() && !resolvedEnd.Get().bString;
    for (size_t i = 0; i < entries.size() && !r.stopped; ++i) {
        ItemOutcome &item = r.items[i];
        bool jump = false, warned = false;
        while (all && item.code == OPC_S_MOREDATA) {
            if (Signals::Interrupted() || Signals::ShutdownRequested()) {
                r.stopped = true;
                break;
            }
            auto &have = item.data.samples;
            if (have.empty()) {
                r.notes.push_back(entries[i].id + L": more data announced without any value; not followed");
                break;
            }
            FILETIME from = have.back().time;
            size_t known = 0;
            for (auto it = have.rbegin(); it != have.rend() && SameTime(it->time, from); ++it)
                ++known;
            // The data runs backwards without a start, or from a later start
            // to an earlier end.
            bool descending = !forward ||
                              (boundsKnown ? TicksOf(resolvedStart.Get().ftTime) > TicksOf(resolvedEnd.Get().ftTime)
                                           : TicksOf(have.front().time) > TicksOf(from));
            Ticks moved = TicksOf(from);
            if (jump)
                moved = descending ? (moved ? moved - 1 : 0) : moved + 1;
            HdaTime nextStart = forward ? HdaTime::Absolute(FileTimeOf(moved)) : HdaTime();
            HdaTime nextEnd = forward ? resolvedEnd : HdaTime::Absolute(FileTimeOf(moved));
            std::vector<ItemOutcome> next;
            if (progress)
                progress->Followed();
            HRESULT hr = source.ReadRaw(nextStart.Get(), nextEnd.Get(), maxValues, bounds ? TRUE : FALSE,
                                        {entries[i]}, next);
            if (FAILED(hr) || next.size() != 1) {
                item.code = FAILED(hr) ? hr : E_UNEXPECTED;
                r.notes.push_back(entries[i].id + L": reading on from " + FormatIsoTime(from) + L" failed");
                break;
            }
            // Values at the time stamp that arrived already, and any value
            // before it (a server that ignores the new start), are not new.
            auto &more = next[0].data.samples;
            size_t skip = 0, repeated = 0;
            for (; skip < more.size(); ++skip) {
                Ticks t = TicksOf(more[skip].time), f = TicksOf(from);
                if (t == f && repeated < known)
                    ++repeated;
                else if (!(descending ? t > f : t < f))
                    break;
            }
            if (skip == more.size() && next[0].code == OPC_S_MOREDATA) {
                // Every value of the answer was there already: one answer holds
                // no more than the values at that time stamp. Go on just after it.
                if (jump) {
                    r.notes.push_back(entries[i].id + L": the server returns no new values after " +
                                      FormatIsoTime(from) + L"; stopped");
                    break;
                }
                if (!warned)
                    r.notes.push_back(entries[i].id + L": values that share a time stamp (" + FormatIsoTime(from) +
                                      L") may be missing: one answer holds too few values (see --max)");
                warned = jump = true;
                continue;
            }
            jump = false;
            size_t before = have.size();
            for (size_t k = skip; k < more.size(); ++k)
                have.push_back(std::move(more[k]));
            total += more.size() - skip;
            Cover(have, before, coveredFrom, coveredTo);
            if (progress)
                progress->Update(total, coveredFrom, coveredTo);
            // "No data" after data means the end was reached.
            item.code = next[0].code == OPC_S_NODATA ? S_OK : next[0].code;
        }
    }
    if (progress)
        progress->Done();
    return r;
}

}  // namespace zqhda
