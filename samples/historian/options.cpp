#include "options.h"

#include <cstdlib>
#include <cstring>

namespace historian {

namespace {

bool IsSwitch(const std::string &arg, const char *name)
{
    return (arg[0] == '/' || arg[0] == '-') && _stricmp(arg.c_str() + 1, name) == 0;
}

bool ParseUnsigned(const std::string &text, unsigned low, unsigned high, unsigned *out)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v < low || v > high)
        return false;
    *out = static_cast<unsigned>(v);
    return true;
}

} // namespace

bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.empty()) {
            *error = "empty argument";
            return false;
        }
        if (IsSwitch(arg, "RegServer")) {
            o.action = Options::Action::Register;
            continue;
        }
        if (IsSwitch(arg, "UnregServer")) {
            o.action = Options::Action::Unregister;
            continue;
        }
        if (IsSwitch(arg, "Embedding")) {
            o.embedding = true;
            continue;
        }
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            o.action = Options::Action::Help;
            continue;
        }
        if (arg == "--stay") {
            o.stay = true;
            continue;
        }
        if (arg == "--trace") {
            o.trace = true;
            continue;
        }
        std::string name = arg, value;
        size_t eq = arg.find('=');
        bool inlineValue = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inlineValue) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        static const char *const valued[] = {"--data",       "--journal", "--days",
                                             "--step",       "--tick",    "--grace",
                                             "--stop-event", "--ua-endpoint", "--ua-user"};
        bool known = false;
        for (const char *v : valued)
            known = known || name == v;
        if (!known) {
            *error = "unknown argument " + arg;
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        bool ok = true;
        if (name == "--data")
            o.dataFolder = value, ok = !value.empty();
        else if (name == "--journal")
            o.journal = value, ok = !value.empty();
        else if (name == "--days")
            ok = ParseUnsigned(value, 1, 3650, &o.days);
        else if (name == "--step")
            ok = ParseUnsigned(value, 1, 86400, &o.stepSeconds);
        else if (name == "--tick")
            ok = ParseUnsigned(value, 10, 60000, &o.tickMs);
        else if (name == "--grace")
            ok = ParseUnsigned(value, 1, 3600, &o.graceSeconds);
        else if (name == "--ua-endpoint")
            o.uaEndpoint = value, ok = value.compare(0, 10, "opc.tcp://") == 0;
        else if (name == "--ua-user")
            o.uaUsers.push_back(value), ok = value.find(':') != std::string::npos &&
                                             value.find(':') != 0;
        else
            o.stopEvent = value, ok = !value.empty() && value.find('\\') == std::string::npos;
        if (!ok) {
            *error = "bad value for " + name + ": '" + value + "'";
            return false;
        }
    }
    // The generated plant lives in a 32-bit process: keep it to a size that fits.
    unsigned long long perItem = 86400ull * o.days / o.stepSeconds + 1;
    if (o.dataFolder.empty() && perItem > kMaxSamplesPerItem) {
        *error = "--days " + std::to_string(o.days) + " with --step " +
                 std::to_string(o.stepSeconds) + " makes " + std::to_string(perItem) +
                 " samples per item; at most " + std::to_string(kMaxSamplesPerItem) +
                 " (use a longer --step)";
        return false;
    }
    *options = o;
    return true;
}

std::vector<std::string> ServerArguments(const Options &o)
{
    const Options defaults;
    std::vector<std::string> args;
    auto add = [&](const char *name, const std::string &value) {
        args.push_back(name);
        args.push_back(value);
    };
    if (!o.dataFolder.empty())
        add("--data", o.dataFolder);
    if (!o.journal.empty())
        add("--journal", o.journal);
    if (o.days != defaults.days)
        add("--days", std::to_string(o.days));
    if (o.stepSeconds != defaults.stepSeconds)
        add("--step", std::to_string(o.stepSeconds));
    if (o.tickMs != defaults.tickMs)
        add("--tick", std::to_string(o.tickMs));
    if (o.graceSeconds != defaults.graceSeconds)
        add("--grace", std::to_string(o.graceSeconds));
    if (o.stopEvent != defaults.stopEvent)
        add("--stop-event", o.stopEvent);
    if (!o.uaEndpoint.empty())
        add("--ua-endpoint", o.uaEndpoint);
    for (const std::string &u : o.uaUsers)
        add("--ua-user", u);
    if (o.stay)
        args.push_back("--stay");
    return args;
}

const char *Usage()
{
    return "usage: ZqHistorian.exe /RegServer [options] | /UnregServer | [-Embedding] [options]\n"
           "  /RegServer keeps the options in HKEY_LOCAL_MACHINE\\SOFTWARE\\ZqHDAsvr\\\n"
           "  ZqHDA.Historian.1 (Arguments); a start by COM (-Embedding) uses them\n"
           "  --data <folder>      CSV history, one file per item (default: generated plant)\n"
           "  --journal <file>     update journal (default: ZqHistorian.journal in the data\n"
           "                       folder, or beside the executable)\n"
           "  --days <n>           span of the generated plant in days (2)\n"
           "  --step <seconds>     sample interval of the generated plant (60); days and\n"
           "                       step may give at most 200000 samples per item\n"
           "  --tick <ms>          tick period of the server (100)\n"
           "  --grace <seconds>    started by COM: wait this long for the first client (60)\n"
           "  --stop-event <name>  named event that stops the server (ZqHDA.Historian.1.Stop)\n"
           "  --ua-endpoint <url>  also serve OPC UA at opc.tcp://HOST:PORT; started by hand,\n"
           "                       until Ctrl+C or the stop event\n"
           "  --ua-user <name:password>  a user the OPC UA endpoint accepts for updates\n"
           "                       (repeatable)\n"
           "  --stay               keep serving when the last client leaves\n"
           "  --trace              print trace texts and updates\n";
}

} // namespace historian
