// COM registration of the host's server under HKEY_CLASSES_ROOT: the texts
// that go into the registry, and the owners of the handles used to write them.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstddef>

namespace zq {

// Every registry text is written from a fixed buffer: 100 characters for the
// description, the ProgID, the class identifier text and the service name,
// 400 for the server path, terminating zero included.
constexpr size_t kRegistryTextSize = 100;
constexpr size_t kServerPathSize = 400;

// "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}" with blanks replaced by '0':
// 38 lower-case characters.
constexpr size_t kClassTextSize = 39;
void FormatClassText(const CLSID &clsid, char (&text)[kClassTextSize]);

// Copies text into buffer, cut to size - 1 bytes (never inside a double-byte
// character) and terminated. Null text counts as empty.
void CopyCut(const char *text, char *buffer, size_t size);

// Whether the text as a whole is a program path: it ends in ".exe" (any
// case) or names an existing file.
bool IsWholePath(const char *text);

// The LocalServer32 value for a server path: a text that as a whole is a
// path (IsWholePath), holds a blank and is not already quoted is quoted, so
// that COM does not take the part after the first blank as arguments; any
// other text ("C:\app\server.exe -opt") is written as given. Cut and
// terminated like CopyCut; a quoted path keeps both quotes.
void FormatServerPath(const char *path, char *buffer, size_t size);

// A ProgID that names a key of its own directly below HKEY_CLASSES_ROOT: not
// null, not empty, without a backslash.
bool IsUsableProgId(const char *progId);

// An open registry key, closed when the owner goes.
class RegKey
{
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey() { Close(); }

    // Creates (or opens) name below parent with KEY_ALL_ACCESS.
    bool Create(HKEY parent, const char *name);
    bool Open(HKEY parent, const char *name, REGSAM access);
    void Close();

    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Sets a REG_SZ value (null name: the key's default value) to text and its
// terminating zero.
bool SetText(HKEY key, const char *valueName, const char *text);

// The registration exports' work (HDAUpdateRegistry,
// HDAAddLocalServiceKeysToRegistry, UnregisterHDAServer; what each writes or
// removes is said in the public header). 1 for success, else 0.
int WriteRegistration(CLSID clsid, const char *progId, const char *description,
                      const char *serverPath);
int WriteServiceKeys(const char *serviceName);
int RemoveRegistration(CLSID clsid, const char *progId);

} // namespace zq
