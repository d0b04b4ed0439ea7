#include "args.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <map>

#include "values.h"

namespace zqhda {

namespace {

unsigned Bit(Command c)
{
    return 1u << static_cast<unsigned>(c);
}

const unsigned kReads = Bit(Command::ReadRaw) | Bit(Command::ReadProcessed) | Bit(Command::ReadAtTime) |
                        Bit(Command::ReadAttributes);
const unsigned kWrites = Bit(Command::Insert) | Bit(Command::Replace) | Bit(Command::InsertReplace);
const unsigned kDeletes = Bit(Command::DeleteRaw) | Bit(Command::DeleteAtTime);
const unsigned kEdits = Bit(Command::ReadModified) | Bit(Command::AnnotationsRead);
const unsigned kAll = ~0u;

struct OptionSpec
{
    const wchar_t *name;
    bool takesValue;
    bool repeatable;
    unsigned commands;  // where the option is allowed
};

const OptionSpec kOptions[] = {
    {L"server", true, false, kAll},
    {L"host", true, false, kAll},
    {L"format", true, false, kAll},
    {L"timeout", true, false, kAll},
    {L"quiet", false, false, kAll},
    {L"help", false, false, kAll},
    {L"async", false, false, kReads | kWrites | kDeletes},
    {L"flat", false, false, Bit(Command::Browse)},
    {L"at", true, true, Bit(Command::Browse) | Bit(Command::ReadAtTime) | kDeletes},
    {L"start", true, false, Bit(Command::ReadRaw) | Bit(Command::ReadProcessed) | Bit(Command::ReadAttributes) |
                                kDeletes | Bit(Command::Advise) | Bit(Command::Plot) | Bit(Command::Watch) | kEdits},
    {L"end", true, false, Bit(Command::ReadRaw) | Bit(Command::ReadProcessed) | Bit(Command::ReadAttributes) |
                              kDeletes | Bit(Command::Plot) | kEdits},
    {L"max", true, false, Bit(Command::ReadRaw) | Bit(Command::ReadModified)},
    {L"bounds", false, false, Bit(Command::ReadRaw)},
    {L"all", false, false, Bit(Command::ReadRaw)},
    {L"aggregate", true, true, Bit(Command::ReadProcessed) | Bit(Command::Plot) | Bit(Command::Advise)},
    {L"interval", true, false, Bit(Command::ReadProcessed) | Bit(Command::Advise) | Bit(Command::Plot) |
                                   Bit(Command::Watch)},
    {L"attr", true, true, Bit(Command::ReadAttributes)},
    {L"time", true, true, kWrites | Bit(Command::AnnotationsInsert)},
    {L"text", true, true, Bit(Command::AnnotationsInsert)},
    {L"value", true, true, kWrites},
    {L"type", true, false, kWrites},
    {L"quality", true, true, kWrites},
    {L"count", true, false, Bit(Command::Advise) | Bit(Command::Watch)},
    {L"duration", true, false, Bit(Command::Watch)},
    {L"output", true, false, Bit(Command::Plot)},
    {L"raw", false, false, Bit(Command::Plot)},
    {L"title", true, false, Bit(Command::Plot)},
    {L"width", true, false, Bit(Command::Plot)},
    {L"height", true, false, Bit(Command::Plot)},
};

const OptionSpec *FindOption(const std::wstring &name)
{
    for (const auto &option : kOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

bool ParseTimes(const std::vector<std::wstring> &texts, std::vector<TimeArg> &out, std::vector<std::wstring> &warnings,
                std::wstring &error)
{
    for (const auto &text : texts) {
        TimeArg t;
        if (!ParseTimeArg(text, t, error))
            return false;
        if (!t.warning.empty())
            warnings.push_back(t.warning);
        out.push_back(t);
    }
    return true;
}

bool ParseOneTime(const std::map<std::wstring, std::vector<std::wstring>> &given, const wchar_t *name,
                  std::optional<TimeArg> &out, std::vector<std::wstring> &warnings, std::wstring &error)
{
    auto it = given.find(name);
    if (it == given.end())
        return true;
    std::vector<TimeArg> parsed;
    if (!ParseTimes(it->second, parsed, warnings, error))
        return false;
    out = parsed.front();
    return true;
}

bool CommandFromWords(const std::vector<std::wstring> &words, size_t &used, Command &command, std::wstring &error)
{
    static const std::map<std::wstring, Command> simple = {
        {L"help", Command::Help},         {L"status", Command::Status},
        {L"browse", Command::Browse},     {L"attributes", Command::Attributes},
        {L"aggregates", Command::Aggregates}, {L"insert", Command::Insert},
        {L"replace", Command::Replace},   {L"insertreplace", Command::InsertReplace},
        {L"delete", Command::DeleteRaw},  {L"advise", Command::Advise},
        {L"plot", Command::Plot},         {L"watch", Command::Watch},
    };
    static const std::map<std::wstring, Command> reads = {
        {L"raw", Command::ReadRaw},
        {L"processed", Command::ReadProcessed},
        {L"attime", Command::ReadAtTime},
        {L"attributes", Command::ReadAttributes},
        {L"modified", Command::ReadModified},
    };
    static const std::map<std::wstring, Command> notes = {
        {L"read", Command::AnnotationsRead},
        {L"insert", Command::AnnotationsInsert},
    };
    used = 1;
    if (words.empty()) {
        error = L"no command given";
        return false;
    }
    auto s = simple.find(words[0]);
    if (s != simple.end()) {
        command = s->second;
        return true;
    }
    if (words[0] == L"annotations") {
        used = 2;
        auto a = words.size() > 1 ? notes.find(words[1]) : notes.end();
        if (a == notes.end()) {
            error = L"annotations needs read or insert";
            return false;
        }
        command = a->second;
        return true;
    }
    if (words[0] != L"read") {
        error = L"unknown command \"" + words[0] + L"\"";
        return false;
    }
    used = 2;
    auto r = words.size() > 1 ? reads.find(words[1]) : reads.end();
    if (r == reads.end()) {
        error = L"read needs a kind: raw, processed, attime, attributes or modified";
        return false;
    }
    command = r->second;
    return true;
}

// The rules between the options of one command.
bool CheckCommand(Options &o, const std::map<std::wstring, std::vector<std::wstring>> &given, std::wstring &error)
{
    auto has = [&](const wchar_t *name) { return given.count(name) != 0; };
    bool needsItems = o.command != Command::Status && o.command != Command::Browse &&
                      o.command != Command::Attributes && o.command != Command::Aggregates;
    if (!needsItems && !o.items.empty()) {
        error = CommandName(o.command) + L" takes no item IDs";
        return false;
    }
    if (needsItems && o.items.empty()) {
        error = CommandName(o.command) + L" needs at least one item ID";
        return false;
    }
    switch (o.command) {
    case Command::ReadRaw:
        if (!o.start && !o.end)
            error = L"read raw needs --start or --end";
        break;
    case Command::ReadProcessed:
        if (!o.start || !o.end || !o.intervalGiven || o.aggregates.empty())
            error = L"read processed needs --start, --end, --interval and --aggregate";
        else if (o.aggregates.size() != 1 && o.aggregates.size() != o.items.size())
            error = L"give one --aggregate for all items or one per item";
        break;
    case Command::ReadModified:
        if (!o.start && !o.end)
            error = L"read modified needs --start or --end";
        break;
    case Command::AnnotationsRead:
        if (!o.start || !o.end)
            error = L"annotations read needs --start and --end";
        break;
    case Command::AnnotationsInsert:
        if (o.times.size() != 1 || o.texts.empty())
            error = L"annotations insert needs one --time and at least one --text";
        break;
    case Command::ReadAtTime:
        if (o.at.empty())
            error = L"read attime needs at least one --at time";
        break;
    case Command::ReadAttributes:
        if (o.items.size() != 1)
            error = L"read attributes reads one item";
        else if (o.attributes.empty())
            error = L"read attributes needs at least one --attr";
        break;
    case Command::Insert:
    case Command::Replace:
    case Command::InsertReplace:
        if (o.times.empty() || o.values.empty())
            error = CommandName(o.command) + L" needs --time and --value";
        else if (o.times.size() != o.values.size() && o.times.size() != 1 && o.values.size() != 1)
            error = L"give as many --time as --value options (or one of them once)";
        else if (o.qualities.size() > 1 && o.qualities.size() != std::max(o.times.size(), o.values.size()))
            error = L"give one --quality for all values or one per value";
        break;
    case Command::DeleteRaw:
        if (has(L"at") && (o.start || o.end))
            error = L"delete takes either --start and --end or --at";
        else if (has(L"at"))
            o.command = Command::DeleteAtTime;
        else if (!o.start || !o.end)
            error = L"delete needs --start and --end, or --at";
        break;
    case Command::Advise:
        if (!o.start || !o.intervalGiven)
            error = L"advise needs --start and --interval";
        else if (o.aggregates.size() > 1 && o.aggregates.size() != o.items.size())
            error = L"give one --aggregate for all items or one per item";
        break;
    case Command::Plot:
        if (!o.start || !o.end || o.output.empty())
            error = L"plot needs --start, --end and --output";
        else if (!o.aggregates.empty() && !o.intervalGiven)
            error = L"plot needs --interval with --aggregate";
        else if (o.aggregates.empty() && (o.intervalGiven || o.raw))
            error = L"--interval and --raw go with --aggregate (without it, plot draws raw values)";
        else if (o.interval == 0 && o.intervalGiven)
            error = L"--interval must be longer than 0";
        break;
    case Command::Watch:
        // From now on, one window a second, unless told otherwise.
        if (!o.start) {
            o.start = TimeArg{};
            o.start->relative = true;
            o.start->text = L"NOW";
        }
        if (!o.intervalGiven)
            o.interval = kTicksPerSecond;
        if (o.interval == 0)
            error = L"--interval must be longer than 0";
        break;
    default:
        break;
    }
    return error.empty();
}

}  // namespace

std::wstring CommandName(Command command)
{
    switch (command) {
    case Command::Help: return L"help";
    case Command::Status: return L"status";
    case Command::Browse: return L"browse";
    case Command::Attributes: return L"attributes";
    case Command::Aggregates: return L"aggregates";
    case Command::ReadRaw: return L"read raw";
    case Command::ReadProcessed: return L"read processed";
    case Command::ReadAtTime: return L"read attime";
    case Command::ReadAttributes: return L"read attributes";
    case Command::ReadModified: return L"read modified";
    case Command::AnnotationsRead: return L"annotations read";
    case Command::AnnotationsInsert: return L"annotations insert";
    case Command::Insert: return L"insert";
    case Command::Replace: return L"replace";
    case Command::InsertReplace: return L"insertreplace";
    case Command::DeleteRaw:
    case Command::DeleteAtTime: return L"delete";
    case Command::Advise: return L"advise";
    case Command::Plot: return L"plot";
    case Command::Watch: return L"watch";
    }
    return L"?";
}

bool ParseArguments(const std::vector<std::wstring> &args, Options &o, std::wstring &error)
{
    o = Options{};
    std::map<std::wstring, std::vector<std::wstring>> given;
    std::vector<std::wstring> words;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring &a = args[i];
        if (optionsEnded || a.size() < 2 || a.compare(0, 2, L"--") != 0) {
            if (!optionsEnded && (a == L"-h" || a == L"/?"))
                given[L"help"].push_back(L"");
            else
                words.push_back(a);
            continue;
        }
        if (a == L"--") {
            optionsEnded = true;
            continue;
        }
        size_t eq = a.find(L'=');
        std::wstring name = a.substr(2, eq == std::wstring::npos ? std::wstring::npos : eq - 2);
        const OptionSpec *option = FindOption(name);
        if (!option) {
            error = L"unknown option --" + name;
            return false;
        }
        std::wstring value;
        if (option->takesValue) {
            if (eq != std::wstring::npos) {
                value = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = L"--" + name + L" needs a value";
                return false;
            }
        } else if (eq != std::wstring::npos) {
            error = L"--" + name + L" takes no value";
            return false;
        }
        auto &list = given[name];
        if (!list.empty() && !option->repeatable) {
            error = L"--" + name + L" given twice";
            return false;
        }
        list.push_back(value);
    }
    if (given.count(L"help")) {
        o.command = Command::Help;
        return true;
    }
    size_t used = 0;
    if (!CommandFromWords(words, used, o.command, error))
        return false;
    if (o.command == Command::Help)
        return true;
    o.items.assign(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());

    for (const auto &entry : given) {
        const OptionSpec *option = FindOption(entry.first);
        if (!(option->commands & Bit(o.command))) {
            error = L"--" + entry.first + L" does not apply to " + CommandName(o.command);
            return false;
        }
    }
    auto one = [&](const wchar_t *name) -> const std::wstring * {
        auto it = given.find(name);
        return it == given.end() ? nullptr : &it->second.front();
    };
    auto list = [&](const wchar_t *name) {
        auto it = given.find(name);
        return it == given.end() ? std::vector<std::wstring>() : it->second;
    };
    if (auto s = one(L"server"))
        o.server = *s;
    if (o.server.empty()) {
        error = L"--server is required (a ProgID such as ZqHDA.Historian.1, or a {CLSID})";
        return false;
    }
    if (auto h = one(L"host"))
        o.host = *h;
    if (auto f = one(L"format")) {
        if (*f == L"table")
            o.format = Format::Table;
        else if (*f == L"csv")
            o.format = Format::Csv;
        else if (*f == L"json")
            o.format = Format::Json;
        else {
            error = L"--format is table, csv or json";
            return false;
        }
    }
    if (auto t = one(L"timeout")) {
        wchar_t *end = nullptr;
        o.timeoutSeconds = std::wcstod(t->c_str(), &end);
        if (t->empty() || *end || !(o.timeoutSeconds > 0) || o.timeoutSeconds > 86400) {
            error = L"--timeout is a number of seconds (more than 0, at most 86400)";
            return false;
        }
        o.timeoutGiven = true;
    }
    o.quiet = given.count(L"quiet") != 0;
    o.async = given.count(L"async") != 0;
    o.flat = given.count(L"flat") != 0;
    o.bounds = given.count(L"bounds") != 0;
    o.all = given.count(L"all") != 0;
    if (auto m = one(L"max"); m && !ParseNumber(*m, o.maxValues)) {
        error = L"--max is a number of values";
        return false;
    }
    if (auto c = one(L"count"); c && (!ParseNumber(*c, o.count) || o.count == 0)) {
        error = L"--count is a number of windows (at least 1)";
        return false;
    }
    if (auto d = one(L"duration")) {
        if (!ParseDuration(*d, o.duration, error))
            return false;
        if (o.duration == 0) {
            error = L"--duration must be longer than 0";
            return false;
        }
    }
    if (auto out = one(L"output"))
        o.output = *out;
    if (auto t = one(L"title"))
        o.title = *t;
    o.raw = given.count(L"raw") != 0;
    for (auto size : {std::make_pair(L"width", &o.width), std::make_pair(L"height", &o.height)}) {
        auto v = one(size.first);
        if (v && (!ParseNumber(*v, *size.second) || *size.second < 200 || *size.second > 10000)) {
            error = std::wstring(L"--") + size.first + L" is a number of pixels (200 to 10000)";
            return false;
        }
    }
    if (auto iv = one(L"interval")) {
        if (!ParseDuration(*iv, o.interval, error))
            return false;
        o.intervalGiven = true;
    }
    o.aggregates = list(L"aggregate");
    o.attributes = list(L"attr");
    o.values = list(L"value");
    o.texts = list(L"text");
    if (auto t = one(L"type"))
        o.valueType = *t;
    for (const auto &q : list(L"quality")) {
        DWORD quality = 0;
        if (!ParseQuality(q, quality, error))
            return false;
        o.qualities.push_back(quality);
    }
    if (o.command == Command::Browse) {
        if (auto at = one(L"at"))
            o.browseAt = *at;
    } else if (!ParseTimes(list(L"at"), o.at, o.warnings, error)) {
        return false;
    }
    if (!ParseTimes(list(L"time"), o.times, o.warnings, error) ||
        !ParseOneTime(given, L"start", o.start, o.warnings, error) ||
        !ParseOneTime(given, L"end", o.end, o.warnings, error))
        return false;
    return CheckCommand(o, given, error);
}

const wchar_t *UsageText()
{
    return LR"(zqhda: a command-line OPC HDA client

Usage: zqhda --server PROGID|{CLSID} [--host NAME] [options] COMMAND [ITEM...] [command options]

Commands:
  status                       the historian's status (GetHistorianStatus)
  browse [--flat] [--at PATH]  the address space as a tree of branches and leaves,
                               or the flat list of item IDs; --at starts at a branch
  attributes                   the item attributes the server supports
  aggregates                   the aggregates the server supports
  read raw ITEM... --start T --end T [--max N] [--bounds] [--all]
                               raw values; --all follows OPC_S_MOREDATA to the end
  read processed ITEM... --start T --end T --interval DUR --aggregate ID|NAME...
                               aggregates per interval (one --aggregate for all
                               items or one per item)
  read attime ITEM... --at T [--at T...]
                               values at the given time stamps
  read attributes ITEM --attr ID|NAME... [--start T] [--end T]
                               attribute values (no --end: the current values)
  read modified ITEM... --start T --end T [--max N]
                               values that were replaced or deleted, with when
                               (modified), how (edit: Replace, InsertReplace,
                               Delete, Insert) and by whom (user)
  annotations read ITEM... --start T --end T
                               the annotations of the values stamped in the
                               range, with when and by whom they were made
  annotations insert ITEM... --time T --text TEXT [--text TEXT...]
                               annotate the value stamped T of every item
  insert|replace|insertreplace ITEM... --time T --value V [--time T --value V...]
                               [--type r8|r4|i4|i2|ui4|bool|str] [--quality Q]
                               write values (every item gets every value)
  delete ITEM... --start T --end T
                               delete the raw values of a time range
  delete ITEM... --at T [--at T...]
                               delete the values at the given time stamps
  advise ITEM... --start T --interval DUR [--aggregate ID|NAME...] [--count N]
                               subscribe to raw data (AdviseRaw), or with
                               --aggregate to one aggregate value per interval
                               (AdviseProcessed); prints every window until N
                               windows, a time-out or Ctrl+C
  watch ITEM... [--start T] [--interval DUR] [--count N] [--duration DUR]
                               a live view through a raw subscription (from
                               NOW, 1S windows by default): on a console one
                               refreshing line per item (value, quality, time,
                               rate of change per second); otherwise a line per
                               new value. Runs until Ctrl+C, N windows or DUR
  plot ITEM... --start T --end T --output FILE.svg [--aggregate ID|NAME...
       --interval DUR [--raw]] [--title TEXT] [--width PX] [--height PX]
                               a trend plot as a self-contained SVG file: raw
                               values (all of them), or the aggregates per
                               interval (--raw: and the raw values); the
                               client resolves relative times with its clock

Options:
  --server S    the server: a ProgID (ZqHDA.Historian.1) or a CLSID ({...})
  --host NAME   the machine the server runs on (DCOM); default: this one
  --format F    table (default), csv or json
  --timeout S   seconds to wait for any callback or completion (default 30;
                advise waits one interval plus this long for each window;
                connecting and the clean-up get at least 10 s)
  --async       read or write through IOPCHDA_AsyncRead / IOPCHDA_AsyncUpdate
                and wait for the completion callback; Ctrl+C cancels (read
                raw, processed, attime, attributes and the updates)
  --quiet       no progress display on stderr (shown only while stderr is
                a console, for reads that take more than a second or follow
                OPC_S_MOREDATA)
  --help        this text

Times (T): ISO 8601 in UTC, "2026-12-08T10:00:00Z" (fraction up to 7 digits,
  offsets such as +01:00 allowed, no zone means UTC), or an OPC HDA relative
  time such as NOW, NOW-1D, DAY+6H, MONTH-1MO, passed to the server as it
  stands (keywords NOW SECOND MINUTE HOUR DAY WEEK MONTH YEAR, offsets S M H D
  W MO Y). "" is the null time. --at and --time need absolute times: the
  client resolves relative texts there with its own clock.
Durations (DUR): 10S, 10M, 1H30M, 500MS, 1D, 1W (a bare number: seconds).
Aggregates and attributes: a number (3, 0x80000001) or a name ("Average",
  "Time Average", "Normal Maximum"), looked up in the server's list.
Quality (Q): good, uncertain, bad or a number such as 0xC0 (default good).
  Qualities print as the OPC DA quality of the low word ("Good",
  "Uncertain: Sub-Normal") followed by the OPC HDA flags of the high word
  (Extra Data, Interpolated, Raw, Calculated, No Bound, No Data, Data Lost,
  Conversion, Partial).

Exit status: 0 all succeeded, 1 some items failed, 2 the call failed or the
  command line is wrong.
)";
}

}  // namespace zqhda
