// zqhda: a command-line OPC HDA client (see UsageText in args.cpp).
#include <windows.h>
#include <objbase.h>

#include <new>

#include "commands.h"

using namespace zqhda;

namespace {

// Ends the process when a step that has no time-out of its own (creating the
// server object, the clean-up calls) takes longer than allowed.
class Watchdog
{
public:
    Watchdog(DWORD timeoutMs, const wchar_t *what, TextSink &err)
        : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), timeoutMs_(timeoutMs), what_(what), err_(err)
    {
        thread_ = CreateThread(nullptr, 0, Body, this, 0, nullptr);
    }
    ~Watchdog()
    {
        SetEvent(done_);
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        CloseHandle(done_);
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    static DWORD WINAPI Body(void *self)
    {
        auto *w = static_cast<Watchdog *>(self);
        if (WaitForSingleObject(w->done_, w->timeoutMs_) == WAIT_TIMEOUT) {
            w->err_.Write(std::wstring(L"zqhda: ") + w->what_ + L" did not finish within the time-out\r\n");
            ExitProcess(kExitFailed);
        }
        return 0;
    }

    HANDLE done_;
    HANDLE thread_ = nullptr;
    DWORD timeoutMs_;
    const wchar_t *what_;
    TextSink &err_;
};

std::wstring WindowsLines(const wchar_t *text)
{
    std::wstring s;
    for (; *text; ++text) {
        if (*text == L'\n')
            s += L'\r';
        s += *text;
    }
    return s;
}

int Run(const Options &o, TextSink &out, TextSink &err)
{
    Session session;
    Report report(o.format, out, err);
    // Connecting (which may start the server) and the clean-up get at least 10 s.
    DWORD limit = Milliseconds(o.timeoutSeconds < 10 ? 10 : o.timeoutSeconds);
    HRESULT hr;
    std::wstring what;
    {
        Watchdog watch(limit, L"connecting to the server", err);
        hr = session.Connect(o.server, o.host, what);
    }
    int status = kExitFailed;
    if (FAILED(hr)) {
        session.ReportStatus(report, what, hr);
        report.Finish();
    } else {
        status = RunOnServer(o, session, report);
    }
    Watchdog watch(limit, L"the clean-up (unadvise, releasing handles and interfaces)", err);
    session.Close();
    return status;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    std::vector<std::wstring> args(argv + 1, argv + argc);
    HandleSink out(STD_OUTPUT_HANDLE), err(STD_ERROR_HANDLE);
    Options options;
    std::wstring error;
    if (!ParseArguments(args, options, error)) {
        err.Write(L"zqhda: " + error + L"\r\nzqhda --help shows the commands and options.\r\n");
        return kExitFailed;
    }
    if (options.command == Command::Help) {
        out.Write(WindowsLines(UsageText()));
        return kExitOk;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        err.Write(L"zqhda: COM could not be initialised: " + Hex32(static_cast<DWORD>(hr)) + L"\r\n");
        return kExitFailed;
    }
    // Calls are signed (packet integrity); the server may identify, not
    // impersonate, this client.
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_INTEGRITY,
                              RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        err.Write(L"zqhda: CoInitializeSecurity failed: " + Hex32(static_cast<DWORD>(hr)) + L"\r\n");
    Signals::InstallConsoleHandler();
    int status = kExitFailed;
    try {
        status = Run(options, out, err);
    } catch (const std::bad_alloc &) {
        err.Write(L"zqhda: out of memory\r\n");
    }
    CoUninitialize();
    return status;
}
