// The command line of zqhda: global options, the command and its arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output.h"
#include "times.h"

namespace zqhda {

enum class Command {
    Help,
    Status,
    Browse,
    Attributes,
    Aggregates,
    ReadRaw,
    ReadProcessed,
    ReadAtTime,
    ReadAttributes,
    ReadModified,
    AnnotationsRead,
    AnnotationsInsert,
    Insert,
    Replace,
    InsertReplace,
    DeleteRaw,
    DeleteAtTime,
    Advise,
    Plot,
    Watch,
};

struct Options
{
    Command command = Command::Help;
    std::wstring server;  // ProgID or {CLSID}
    std::wstring host;    // remote machine, empty: this one
    Format format = Format::Table;
    double timeoutSeconds = 30;
    bool timeoutGiven = false;
    bool quiet = false;
    bool async = false;

    std::vector<std::wstring> items;

    // browse
    bool flat = false;
    std::wstring browseAt;

    // reads, deletes, advise
    std::optional<TimeArg> start, end;
    std::vector<TimeArg> at;  // read attime, delete --at
    DWORD maxValues = 0;
    bool bounds = false;
    bool all = false;
    std::vector<std::wstring> aggregates;  // ID or name, one or one per item
    Ticks interval = 0;
    bool intervalGiven = false;
    std::vector<std::wstring> attributes;  // ID or name

    // insert, replace, insertreplace, annotations insert (one --time)
    std::vector<TimeArg> times;
    std::vector<std::wstring> texts;  // annotations insert
    std::vector<std::wstring> values;
    std::wstring valueType;
    std::vector<DWORD> qualities;

    // advise: windows to print (0: until interrupted or timed out); watch:
    // windows to wait for
    DWORD count = 0;
    // watch: how long to run (0: until interrupted)
    Ticks duration = 0;

    // plot
    std::wstring output;
    std::wstring title;
    bool raw = false;  // raw values too when aggregates are given
    DWORD width = 960, height = 540;

    // Relative texts that do not follow the usual syntax (said on stderr).
    std::vector<std::wstring> warnings;
};

// Parses the arguments after the program name. On false, `error` says what
// is wrong (exit status 2).
bool ParseArguments(const std::vector<std::wstring> &args, Options &options, std::wstring &error);

// The usage text (--help).
const wchar_t *UsageText();

// The command's name as typed ("read raw").
std::wstring CommandName(Command command);

}  // namespace zqhda
