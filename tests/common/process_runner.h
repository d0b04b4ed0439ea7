// Runs a program of the build folder as a child process and collects its
// standard output, with a time limit.
#pragma once

#include <windows.h>

#include <string>

namespace zqtest {

struct ProcessResult
{
    bool started = false;
    bool timedOut = false;
    unsigned long exitCode = 0;
    std::string output;
    std::string errors; // standard error, when asked for separately
};

// commandLine: program and arguments; the program is looked up next to the
// test program, unless the command line starts with a quoted program path. A process that runs past timeoutMs is terminated. Standard
// error goes to `output` too, or to `errors` with separateErrors.
ProcessResult RunProcess(const std::string &commandLine, unsigned long timeoutMs,
                         bool separateErrors = false);

// Starts the program like RunProcess, without waiting: its standard output
// (and error, unless errors is given) go to a pipe whose read end *output
// receives; with errors, standard error goes to a second pipe, *errors. The
// caller closes the pipe ends and the two handles of *process.
bool StartProcess(const std::string &commandLine, PROCESS_INFORMATION *process, HANDLE *output,
                  HANDLE *errors = nullptr);

// Directory of the running test program, with a trailing backslash.
std::string ProgramDirectory();

} // namespace zqtest
