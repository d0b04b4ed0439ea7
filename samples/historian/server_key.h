// What the historian's registration keeps besides the library's COM entries.
//
// COM starts a local server with the LocalServer32 command line, and the
// platform reads that value into a buffer of MAX_PATH characters (terminator
// included): a longer value makes every start fail. LocalServer32 therefore
// holds the quoted program path only, and the options given to /RegServer
// live in the historian's own key:
//
//   HKEY_LOCAL_MACHINE\SOFTWARE\ZqHDAsvr\ZqHDA.Historian.1
//     "Arguments" (REG_MULTI_SZ): the options, one argument per string,
//                                  exactly as on the command line
//
// /RegServer writes it, /UnregServer removes it, and a start by COM
// (-Embedding) reads it before the command line's own options.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace historian {

// The key below HKEY_LOCAL_MACHINE.
extern const char kServerKeyPath[];

// Longest LocalServer32 value COM can read, in characters (MAX_PATH with its
// terminator).
constexpr size_t kMaxLocalServerChars = MAX_PATH - 1;

// The LocalServer32 value for the program: its path in double quotes. false
// with a reason when the value would be too long for COM to read.
bool LocalServerValue(const std::string &program, std::string *value, std::string *error);

// Writes the registered arguments (an empty list too); false with a reason.
bool WriteServerArguments(const std::vector<std::string> &args, std::string *error);
// Reads them: no key or no value gives an empty list; false with a reason
// when the value is there but unreadable.
bool ReadServerArguments(std::vector<std::string> *args, std::string *error);
// Removes the value and the key (and the vendor key when nothing else is
// left in it).
void DeleteServerArguments();

} // namespace historian
