// ZqHistorian.exe: a sample OPC HDA historian built on ZqHDAsvr.dll, written
// as a real host would write one. It keeps a history (a generated plant, or
// CSV files), serves it to OPC HDA clients through the library, journals
// their updates, and ends when its last client leaves or when asked to.
#include <windows.h>
#include <objbase.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "address_space.h"
#include "csv_history.h"
#include "historian_identity.h"
#include "options.h"
#include "plant.h"
#include "server_key.h"

namespace {

using namespace historian;

// After the last client leaves, wait this long for another one before ending:
// a client may be connecting at that moment.
constexpr DWORD kLingerMs = 1000;
// How long clients get to let go after they were asked to disconnect.
constexpr DWORD kShutdownWaitMs = 5000;

HANDLE g_stop = nullptr; // the named stop event; also set by Ctrl+C
HANDLE g_idle = nullptr; // set when a client leaves and none remain

void Say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void __stdcall OnDisconnect(long remaining)
{
    if (remaining == 0)
        SetEvent(g_idle);
}

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(g_stop);
    return TRUE;
}

void __stdcall PrintTrace(char *text) { Say("trace: %s\n", text); }

// The OPC UA users of --ua-user, as "name:password"; read by the endpoint's
// thread only after they are set.
std::vector<std::string> g_uaUsers;

int __stdcall CheckUaUser(const char *user, const char *password)
{
    const std::string given = std::string(user) + ":" + password;
    for (const std::string &u : g_uaUsers)
        if (u == given)
            return 1;
    return 0;
}

std::string ExecutablePath()
{
    // Grows the buffer until the whole path fits: install folders can be deep.
    for (DWORD size = MAX_PATH + 1; size <= 32768; size *= 2) {
        std::string path(size, '\0');
        DWORD n = GetModuleFileNameA(nullptr, &path[0], size);
        if (n == 0)
            return std::string();
        if (n < size)
            return path.substr(0, n);
    }
    return std::string();
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FullPath(const std::string &path)
{
    DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    std::string full(size, '\0');
    DWORD n = GetFullPathNameA(path.c_str(), size, &full[0], nullptr);
    return n == 0 || n >= size ? path : full.substr(0, n);
}

// Writes the COM registration (LocalServer32: the quoted program path only)
// and the options in the historian's own key (server_key.h).
int Register(const Options &given)
{
    Options o = given;
    if (!o.dataFolder.empty())
        o.dataFolder = FullPath(o.dataFolder);
    if (!o.journal.empty())
        o.journal = FullPath(o.journal);
    std::string command, error;
    if (!LocalServerValue(ExecutablePath(), &command, &error)) {
        Say("registration refused: %s\n", error.c_str());
        return 1;
    }
    if (!WriteServerArguments(ServerArguments(o), &error)) {
        Say("registration of %s failed: %s\n", kHistorianProgId, error.c_str());
        return 1;
    }
    // The category manager needs COM on this thread.
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int ok = HDAUpdateRegistry(kHistorianClsid, kHistorianProgId, kHistorianDescription,
                               command.c_str());
    if (SUCCEEDED(init))
        CoUninitialize();
    Say(ok ? "registered %s: %s\n" : "registration of %s failed\n", kHistorianProgId,
        command.c_str());
    if (ok) {
        std::string text;
        for (const std::string &a : ServerArguments(o))
            text += " " + a;
        Say("options (HKEY_LOCAL_MACHINE\\%s, Arguments):%s\n", kServerKeyPath, text.c_str());
    }
    return ok ? 0 : 1;
}

int Unregister()
{
    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int ok = UnregisterHDAServer(kHistorianClsid, kHistorianProgId);
    DeleteServerArguments();
    if (SUCCEEDED(init))
        CoUninitialize();
    Say(ok ? "unregistered %s\n" : "%s was not registered\n", kHistorianProgId);
    return ok ? 0 : 1;
}

// Loads or generates the history and replays the journal. The objects live
// until the process ends: client calls can reach the callback object on COM
// threads up to the very end, so they are never destroyed. A journal that
// cannot be used does not stop the start: what was sound in it is replayed,
// updates are refused, and *refusal says why (for the server status).
HistorianCallback *Prepare(const Options &o, std::string *refusal)
{
    Store *store = new Store();
    Ticks now = NowTicks();
    std::string error;
    if (!o.dataFolder.empty()) {
        if (!LoadCsvFolder(o.dataFolder, now, store, &error)) {
            Say("cannot load the history: %s\n", error.c_str());
            return nullptr;
        }
        Say("loaded %u items from %s\n", static_cast<unsigned>(store->Items().size()),
            o.dataFolder.c_str());
    } else {
        PlantOptions plant;
        plant.end = now;
        plant.days = o.days;
        plant.interval = static_cast<Ticks>(o.stepSeconds) * kTicksPerSecond;
        GeneratePlant(plant, store);
        Say("generated %u items over %u days, one sample every %u s\n",
            static_cast<unsigned>(store->Items().size()), o.days, o.stepSeconds);
    }

    std::string journalPath = o.journal;
    if (journalPath.empty()) {
        std::string folder = o.dataFolder.empty() ? FolderOf(ExecutablePath()) : o.dataFolder;
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
            folder += '\\';
        journalPath = folder + "ZqHistorian.journal";
    }
    Journal *journal = new Journal();
    std::vector<JournalRecord> records;
    const bool usable = journal->Open(journalPath, &records, &error);
    // Updates and annotations are counted; the values an update replaced or
    // deleted travel in its record.
    size_t updates = 0, edited = 0, annotations = 0, unknown = 0;
    for (const JournalRecord &r : records) {
        const bool edit = r.op == JournalOp::Edited;
        if (!store->Apply(r))
            unknown += edit ? 0 : 1;
        else if (edit)
            ++edited;
        else if (r.op == JournalOp::Annotation)
            ++annotations;
        else
            ++updates;
    }
    if (usable) {
        store->AttachJournal(journal);
    } else {
        store->RefuseUpdates();
        *refusal = "journal refused, no updates accepted: " + error + " in " + journalPath;
        Say("%s\n", refusal->c_str());
    }
    Say("journal %s: %u updates replayed", journalPath.c_str(), static_cast<unsigned>(updates));
    if (edited != 0 || annotations != 0)
        Say(" (%u replaced or deleted values kept), %u annotations", static_cast<unsigned>(edited),
            static_cast<unsigned>(annotations));
    if (unknown != 0)
        Say(", %u for items this history lacks skipped", static_cast<unsigned>(unknown));
    if (journal->TornBytes() != 0)
        Say(", an incomplete last record (%u bytes) dropped",
            static_cast<unsigned>(journal->TornBytes()));
    if (journal->Upgraded())
        Say(", rewritten in the current format");
    if (!journal->KeptAs().empty())
        Say(", the original kept as %s", journal->KeptAs().c_str());
    Say("\n");

    HistorianCallback::Log log;
    if (o.trace)
        log = [](const std::string &line) { Say("update: %s\n", line.c_str()); };
    auto *callback = new HistorianCallback(*store, NowTicks, log);
    if (!DefineAddressSpace(*store, callback, &error)) {
        Say("%s\n", error.c_str());
        return nullptr;
    }
    Say("%u samples in %u items\n", static_cast<unsigned>(store->SampleCount()),
        static_cast<unsigned>(store->Items().size()));
    return callback;
}

// Before ending for want of clients: COM stops handing out this process's
// class objects, so that a client asking from now on gets a new historian
// instead of one that is ending. A client that got in before that keeps it
// running (the activations resume). True when the process may end.
bool StopActivations()
{
    if (FAILED(CoSuspendClassObjects()))
        return NumbrHDAClientConnections() == 0;
    if (NumbrHDAClientConnections() == 0)
        return true;
    CoResumeClassObjects();
    return false;
}

// Waits until a stop request, or until the last client has left (unless
// --stay); started by COM, also until the grace period passes without a
// client. Returns why it stopped.
const char *RunUntilDone(const Options &o)
{
    const DWORD started = GetTickCount();
    // Started by hand with an OPC UA endpoint: serve until told to stop,
    // whatever the classic clients do.
    const bool stay = o.stay || (!o.embedding && !o.uaEndpoint.empty());
    bool hadClient = false;
    HANDLE events[2] = {g_stop, g_idle};
    for (;;) {
        DWORD w = WaitForMultipleObjects(2, events, FALSE, 200);
        if (w == WAIT_OBJECT_0)
            return "stop requested";
        long clients = NumbrHDAClientConnections();
        hadClient = hadClient || clients > 0 || w == WAIT_OBJECT_0 + 1;
        if (hadClient && clients == 0 && !stay) {
            if (WaitForSingleObject(g_stop, kLingerMs) == WAIT_OBJECT_0)
                return "stop requested";
            if (NumbrHDAClientConnections() == 0 && StopActivations())
                return "the last client left";
        }
        if (!hadClient && o.embedding && GetTickCount() - started > o.graceSeconds * 1000u)
            return "no client connected";
    }
}

int Serve(const Options &o)
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        Say("CoInitializeEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    // Packet integrity and identify-level impersonation: what current Windows
    // requires of a DCOM server (the hardening of the DCOM activation path).
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                              RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr))
        Say("CoInitializeSecurity failed: 0x%08lX (going on)\n", static_cast<unsigned long>(hr));

    std::string refusal;
    HistorianCallback *callback = Prepare(o, &refusal);
    if (callback == nullptr)
        return 1;
    // Clients see a refused journal in GetHistorianStatus.
    if (!refusal.empty())
        SetHDAServerStatus(OPCHDA_DOWN, refusal.c_str());

    g_stop = CreateEventA(nullptr, TRUE, FALSE, o.stopEvent.c_str());
    g_idle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (g_stop == nullptr || g_idle == nullptr) {
        Say("cannot create the stop event %s\n", o.stopEvent.c_str());
        return 1;
    }
    ResetEvent(g_stop); // a signal left from an earlier run
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    SetHDAVendorInfo("ZqHDAsvr sample historian");
    SetHDAServerCallback(callback);
    EnableHistorianExtensions(callback);
    EnableHDAAdviseProcessed(1);  // processed subscriptions (AdviseProcessed)
    EnableHDAStandardAggregates(1); // the library computes every aggregate
    EnableHDADisconnectNotification(OnDisconnect);
    if (o.trace)
        EnableHDAEventMsgs(PrintTrace);
    if (!InitZqHDAsvr(kHistorianClsid, o.tickMs)) {
        Say("the server could not be started\n");
        return 1;
    }
    bool ua = false;
    if (!o.uaEndpoint.empty()) {
        g_uaUsers = o.uaUsers;
        SetHDAUaUserCheck(CheckUaUser);
        long started = StartHDAUaEndpoint(o.uaEndpoint.c_str(), 0);
        if (started != S_OK) {
            Say("the OPC UA endpoint %s could not be started: 0x%08lX\n", o.uaEndpoint.c_str(),
                static_cast<unsigned long>(started));
            return 1;
        }
        ua = true;
        Say("OPC UA endpoint %s (security policy None)\n", o.uaEndpoint.c_str());
        // Clients see where in GetHistorianStatus (a refused journal first).
        const std::string where = "OPC UA endpoint " + o.uaEndpoint;
        if (refusal.empty())
            SetHDAServerStatus(OPCHDA_UP, where.c_str());
        else
            SetHDAServerStatus(OPCHDA_DOWN, (refusal + "; " + where).c_str());
    }
    Say("serving %s%s; stop with Ctrl+C or the event \"%s\"\n", kHistorianProgId,
        o.embedding ? " (started by COM)" : "", o.stopEvent.c_str());

    const char *why = RunUntilDone(o);
    if (ua)
        StopHDAUaEndpoint();
    long told = RequestHDADisconnect();
    Say("stopping: %s; %ld client(s) asked to disconnect\n", why, told);
    for (DWORD waited = 0; NumbrHDAClientConnections() > 0 && waited < kShutdownWaitMs;
         waited += 50)
        Sleep(50);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error)) {
        Say("%s\n%s", error.c_str(), Usage());
        return 2;
    }
    if (options.embedding && options.action == Options::Action::Serve) {
        // Started by COM: the registered options first, then the command
        // line's own, which win where both give one.
        std::vector<std::string> registered;
        if (!ReadServerArguments(&registered, &error)) {
            Say("%s\n", error.c_str());
            return 1;
        }
        registered.insert(registered.end(), args.begin(), args.end());
        if (!ParseOptions(registered, &options, &error) ||
            options.action != Options::Action::Serve) {
            if (error.empty())
                error = "only options may be registered, no /RegServer, /UnregServer or --help";
            Say("registered options (HKEY_LOCAL_MACHINE\\%s): %s\n", kServerKeyPath,
                error.c_str());
            return 2;
        }
    }
    switch (options.action) {
    case Options::Action::Help:
        Say("%s", Usage());
        return 0;
    case Options::Action::Register:
        return Register(options);
    case Options::Action::Unregister:
        return Unregister();
    default:
        return Serve(options);
    }
}
