// The commands of zqhda and what they share: the context of one run (options,
// connection, output, exit status), aggregate and attribute catalogues, and
// the columns of value records.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "session.h"
#include "sinks.h"
#include "transaction.h"

namespace zqhda {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitItemsFailed = 1;
constexpr int kExitFailed = 2;

// An aggregate or attribute the server (or the standard) knows.
struct Named
{
    DWORD id = 0;
    std::wstring name;
    std::wstring description;
    VARTYPE type = VT_EMPTY;  // attributes only
};

class Context
{
public:
    Context(const Options &options, Session &session, Report &report);
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    const Options &options;
    Session &session;
    Report &report;

    int ExitCode() const { return exitCode_; }
    void ItemFailed();
    void Failed();
    // Reports what stopped the command and counts it as failed.
    void Fail(const std::wstring &message);

    // Reports a failed call ("ReadRaw failed") and counts it; true if hr succeeded.
    bool CheckCall(const std::wstring &call, HRESULT hr);
    // Reports a code other than S_OK for a subject; failure codes count as
    // failed items.
    void ItemStatus(const std::wstring &subject, HRESULT code);
    // Says (once) that Ctrl+C was pressed or the server asked to disconnect,
    // and when that cut the command short counts it as a failure (Ctrl+C not,
    // where it is the usual end). False if neither happened.
    bool ReportSignals(bool cutShort = true);
    // Ctrl+C is the usual way to end this command (advise without --count).
    void InterruptEndsNormally() { interruptEndsNormally_ = true; }

    DWORD TimeoutMs() const { return Milliseconds(options.timeoutSeconds); }

    // GetItemHandles for the IDs; reports every entry that failed. Returns
    // the entries that have a handle (none: the command cannot go on).
    std::vector<Item> Handles(const std::vector<std::wstring> &ids);

    // The data callback sink advised on the server (once) and the
    // transactions on it; null when the server offers no callbacks.
    Transactions *Async();

    // Catalogues of the server, fetched once.
    const std::vector<Named> &Aggregates();
    const std::vector<Named> &Attributes();
    // IDs from numbers or names (the server's catalogue first, then the
    // standard names) and the names to show. False with a report.
    bool ResolveAggregates(const std::vector<std::wstring> &texts, std::vector<DWORD> &ids,
                           std::vector<std::wstring> &names);
    bool ResolveAttributes(const std::vector<std::wstring> &texts, std::vector<DWORD> &ids,
                           std::vector<std::wstring> &names);

private:
    bool Resolve(const std::vector<std::wstring> &texts, const std::vector<Named> &server,
                 const wchar_t *const *standard, size_t standardCount, const wchar_t *what, std::vector<DWORD> &ids,
                 std::vector<std::wstring> &names);

    int exitCode_ = kExitOk;
    DataSink *sink_ = nullptr;
    std::unique_ptr<Transactions> transactions_;
    bool asyncTried_ = false;
    bool signalsReported_ = false;
    bool interruptEndsNormally_ = false;
    std::unique_ptr<std::vector<Named>> aggregates_, attributes_;
};

// Columns and cells of one value: time, value, type, quality, quality text.
std::vector<std::wstring> SampleColumns();
std::vector<Cell> SampleCells(const Sample &sample);

// The server's catalogues (appended to out).
HRESULT FetchAggregates(IOPCHDA_Server *server, std::vector<Named> &out);
HRESULT FetchAttributes(IOPCHDA_Server *server, std::vector<Named> &out);

// The standard aggregate (1..24) and attribute (1..19) names, "" otherwise.
std::wstring StandardAggregateName(DWORD id);
std::wstring StandardAttributeName(DWORD id);

// Runs the command; returns the exit status.
int RunCommand(const Options &options, Session &session, Report &report);
// On a connected session: advises an IOPCShutdown sink (when the server has
// the connection point) and runs the command.
int RunOnServer(const Options &options, Session &session, Report &report);

// A raw-data subscription (AdviseRaw) of the command's items.
struct RawAdvise
{
    std::vector<Item> entries;  // the items that have a handle
    std::vector<HRESULT> codes; // AdviseRaw's code per entry
    Transactions *transactions = nullptr;
    DWORD tid = 0, cancelId = 0;
};
// Subscribes from --start every --interval; false (reported) when nothing
// could be subscribed.
bool StartRawAdvise(Context &c, RawAdvise &advise);
// Cancels the subscription; a failure is reported.
void StopRawAdvise(Context &c, const RawAdvise &advise);

// The commands (cmd_*.cpp).
void RunStatus(Context &c);
void RunBrowse(Context &c);
void RunAttributeList(Context &c);
void RunAggregateList(Context &c);
void RunRead(Context &c);
void RunReadAttributes(Context &c);
void RunReadModified(Context &c);
void RunAnnotations(Context &c);
// "Replace", "Delete", ... for an OPCHDA_EDITTYPE.
std::wstring EditTypeName(DWORD type);
void RunUpdate(Context &c);
void RunAdvise(Context &c);
void RunPlot(Context &c);
void RunWatch(Context &c);

}  // namespace zqhda
