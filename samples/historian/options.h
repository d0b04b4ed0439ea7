// The historian's command line.
//
//   ZqHistorian.exe /RegServer [options]   register (options are remembered
//                                          in the historian's registry key,
//                                          server_key.h, and used when COM
//                                          starts it)
//   ZqHistorian.exe /UnregServer           remove the registration
//   ZqHistorian.exe [-Embedding] [options] serve (-Embedding: started by COM)
// Options (also as --name=value):
//   --data <folder>     CSV history, one file per item (default: generated plant)
//   --journal <file>    update journal (default: ZqHistorian.journal in the
//                       data folder, or beside the executable)
//   --days <n>          span of the generated plant, 1..3650 (default 2)
//   --step <seconds>    sample interval of the generated plant, 1..86400 (60);
//                       together at most kMaxSamplesPerItem samples per item
//   --tick <ms>         the library's tick period, 10..60000 (100)
//   --grace <seconds>   started by COM: how long to wait for the first client,
//                       1..3600 (60)
//   --stop-event <name> named event that stops the server when set
//                       (default "ZqHDA.Historian.1.Stop")
//   --ua-endpoint <url> also serve OPC UA at opc.tcp://HOST:PORT (started by
//                       hand: until Ctrl+C or the stop event, whatever the
//                       classic clients do)
//   --ua-user <name:password>  a user name and password the OPC UA endpoint
//                       accepts for updates (repeatable; kept in plain text
//                       in the registration, as a sample's convenience)
//   --stay              keep serving when the last client leaves
//   --trace             print the library's trace texts and every update
//   --help
#pragma once

#include <string>
#include <vector>

namespace historian {

struct Options
{
    enum class Action { Serve, Register, Unregister, Help };
    Action action = Action::Serve;
    bool embedding = false;
    std::string dataFolder;
    std::string journal;
    unsigned days = 2;
    unsigned stepSeconds = 60;
    unsigned tickMs = 100;
    unsigned graceSeconds = 60;
    std::string stopEvent = "ZqHDA.Historian.1.Stop";
    std::string uaEndpoint;
    std::vector<std::string> uaUsers; // "name:password"
    bool stay = false;
    bool trace = false;
};

// The generated plant's limit: --days and --step giving more samples per item
// are refused.
constexpr unsigned long long kMaxSamplesPerItem = 200000;

// args excludes the program name. false with a reason on a bad command line.
bool ParseOptions(const std::vector<std::string> &args, Options *options, std::string *error);

// The arguments to register for a start by COM: the data folder, journal
// and plant settings that differ from the defaults (paths made absolute by
// the caller), one argument per element as ParseOptions takes them.
std::vector<std::string> ServerArguments(const Options &options);

const char *Usage();

} // namespace historian
