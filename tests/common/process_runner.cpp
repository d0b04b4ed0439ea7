#include "process_runner.h"

#include <thread>

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

ProcessResult RunProcess(const std::string &commandLine, unsigned long timeoutMs,
                         bool separateErrors)
{
    ProcessResult result;
    PROCESS_INFORMATION pi{};
    HANDLE readEnd = nullptr, errRead = nullptr;
    if (!StartProcess(commandLine, &pi, &readEnd, separateErrors ? &errRead : nullptr))
        return result;
    result.started = true;

    auto drain = [](HANDLE pipe, std::string &into) {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0)
            into.append(buf, n);
    };
    std::thread reader([&] { drain(readEnd, result.output); });
    std::thread errorReader([&] {
        if (errRead != nullptr)
            drain(errRead, result.errors);
    });
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    reader.join();
    errorReader.join();
    CloseHandle(readEnd);
    if (errRead != nullptr)
        CloseHandle(errRead);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

} // namespace zqtest
