#include "process_runner.h"


namespace zqtest {

std::string ProgramDirectory()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

namespace {
// A pipe whose write end a child inherits.
bool ChildPipe(HANDLE *readEnd, HANDLE *writeEnd)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(readEnd, writeEnd, &sa, 0))
        return false;
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}
} // namespace

bool StartProcess(const std::string &commandLine, PROCESS_INFORMATION *process, HANDLE *output,
                  HANDLE *errors)
{
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    HANDLE errRead = nullptr, errWrite = nullptr;
    if (!ChildPipe(&readEnd, &writeEnd))
        return false;
    if (errors != nullptr && !ChildPipe(&errRead, &errWrite)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return false;
    }

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = errors != nullptr ? errWrite : writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    size_t space = commandLine.find(' ');
    std::string cmd = !commandLine.empty() && commandLine[0] == '"'
                          ? commandLine
                          : "\"" + ProgramDirectory() + commandLine.substr(0, space) + "\"" +
                                (space == std::string::npos ? std::string()
                                                            : commandLine.substr(space));
    BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &pi);
    CloseHandle(writeEnd);
    if (errWrite != nullptr)
        CloseHandle(errWrite);
    if (!ok) {
        CloseHandle(readEnd);
        if (errRead != nullptr)
            CloseHandle(errRead);
        return false;
    }
    *process = pi;
    *output = readEnd;
    if (errors != nullptr)
        *errors = errRead;
    return true;
}

namespace {
// Reads what the pipe holds now; false once its write end is closed.
bool ReadAvailable(HANDLE pipe, std::string &into)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available == 0)
            return true;
        char buf[4096];
        DWORD n = 0;
        if (!ReadFile(pipe, buf, available < sizeof buf ? available : sizeof buf, &n, nullptr) || n == 0)
            return false;
        into.append(buf, n);
    }
}
} // namespace

ProcessResult RunProcess(const std::string &commandLine, unsigned long timeoutMs,
                         bool separateErrors)
{
    ProcessResult result;
    PROCESS_INFORMATION pi{};
    HANDLE readEnd = nullptr, errRead = nullptr;
    if (!StartProcess(commandLine, &pi, &readEnd, separateErrors ? &errRead : nullptr))
        return result;
    result.started = true;
    // The pipes are read until the program has ended and they are closed.
    // Once it has ended, everything it wrote is in them; a process it started
    // can still hold their write ends (Wine's desktop process, started with
    // a program's first window, inherits them and lives on), so reading stops
    // a moment after the end whether or not they were closed.
    const DWORD kAfterEndMs = 2000;
    const DWORD started = GetTickCount();
    bool outOpen = true, errOpen = errRead != nullptr, ended = false;
    DWORD endedAt = 0;
    while (outOpen || errOpen) {
        if (outOpen)
            outOpen = ReadAvailable(readEnd, result.output);
        if (errOpen)
            errOpen = ReadAvailable(errRead, result.errors);
        if (!ended) {
            if (WaitForSingleObject(pi.hProcess, 10) != WAIT_OBJECT_0 && GetTickCount() - started <= timeoutMs)
                continue;
            if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) {
                result.timedOut = true;
                TerminateProcess(pi.hProcess, 1);
                WaitForSingleObject(pi.hProcess, 5000);
            }
            ended = true;
            endedAt = GetTickCount();
        } else if (GetTickCount() - endedAt > kAfterEndMs) {
            break;
        } else {
            Sleep(10);
        }
    }
    if (!ended) {
        // Both pipes were closed before the program ended.
        const DWORD spent = GetTickCount() - started;
        if (WaitForSingleObject(pi.hProcess, spent < timeoutMs ? timeoutMs - spent : 0) != WAIT_OBJECT_0) {
            result.timedOut = true;
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 5000);
        }
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(readEnd);
    if (errRead != nullptr)
        CloseHandle(errRead);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

} // namespace zqtest
