#include "process_runner.h"

#include <windows.h>

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

ProcessResult RunProcess(const std::string &commandLine, unsigned long timeoutMs, bool separateErrors)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    HANDLE errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    if (separateErrors) {
        if (!CreatePipe(&errRead, &errWrite, &sa, 0)) {
            CloseHandle(readEnd);
            CloseHandle(writeEnd);
            return result;
        }
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    }

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = separateErrors ? errWrite : writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    std::string cmd = "\"" + ProgramDirectory() + commandLine.substr(0, commandLine.find(' ')) +
                      "\"" +
                      (commandLine.find(' ') == std::string::npos
                           ? std::string()
                           : commandLine.substr(commandLine.find(' ')));
    BOOL ok = CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &pi);
    CloseHandle(writeEnd);
    if (errWrite)
        CloseHandle(errWrite);
    if (!ok) {
        CloseHandle(readEnd);
        if (errRead)
            CloseHandle(errRead);
        return result;
    }
    result.started = true;

    auto drain = [](HANDLE pipe, std::string &into) {
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0)
            into.append(buf, n);
    };
    std::thread reader([&] { drain(readEnd, result.output); });
    std::thread errorReader([&] {
        if (errRead)
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
    if (errRead)
        CloseHandle(errRead);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

} // namespace zqtest
