#include "server_key.h"

#include <cstring>

namespace historian {

namespace {

constexpr char kVendorKeyPath[] = "SOFTWARE\\ZqHDAsvr";
constexpr char kArgumentsValue[] = "Arguments";
// Far more than any command line needs; a larger value is not ours.
constexpr DWORD kMaxArgumentsBytes = 64 * 1024;

class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY *Out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::string Failure(const char *what, LONG rc)
{
    return std::string(what) + " HKEY_LOCAL_MACHINE\\" + kServerKeyPath + " (error " +
           std::to_string(rc) + ")";
}

} // namespace

const char kServerKeyPath[] = "SOFTWARE\\ZqHDAsvr\\ZqHDA.Historian.1";

bool LocalServerValue(const std::string &program, std::string *value, std::string *error)
{
    std::string quoted = "\"" + program + "\"";
    // Characters as COM reads them (UTF-16 units); never more than bytes.
    int units = MultiByteToWideChar(CP_ACP, 0, quoted.data(), static_cast<int>(quoted.size()),
                                    nullptr, 0);
    size_t length = units > 0 ? static_cast<size_t>(units) : quoted.size();
    if (length > kMaxLocalServerChars) {
        *error = "the program path is too long for COM to start the server: LocalServer32 would "
                 "be " + std::to_string(length) + " characters (the quoted path), COM reads at "
                 "most " + std::to_string(kMaxLocalServerChars) +
                 "; move ZqHistorian.exe to a shorter folder: " + program;
        return false;
    }
    *value = quoted;
    return true;
}

bool WriteServerArguments(const std::vector<std::string> &args, std::string *error)
{
    std::string data;
    for (const std::string &a : args)
        data += a + '\0';
    data += '\0';
    if (args.empty())
        data += '\0'; // an empty list is one empty string's terminator and the list's
    Key key;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServerKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, key.Out(), nullptr);
    if (rc != ERROR_SUCCESS) {
        *error = Failure("cannot create", rc);
        return false;
    }
    rc = RegSetValueExA(key.get(), kArgumentsValue, 0, REG_MULTI_SZ,
                        reinterpret_cast<const BYTE *>(data.data()), static_cast<DWORD>(data.size()));
    if (rc != ERROR_SUCCESS) {
        *error = Failure("cannot write the arguments to", rc);
        return false;
    }
    return true;
}

bool ReadServerArguments(std::vector<std::string> *args, std::string *error)
{
    args->clear();
    Key key;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServerKeyPath, 0, KEY_QUERY_VALUE, key.Out());
    if (rc == ERROR_FILE_NOT_FOUND)
        return true;
    if (rc != ERROR_SUCCESS) {
        *error = Failure("cannot open", rc);
        return false;
    }
    DWORD type = 0, size = 0;
    rc = RegQueryValueExA(key.get(), kArgumentsValue, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND)
        return true;
    if (rc != ERROR_SUCCESS || type != REG_MULTI_SZ || size > kMaxArgumentsBytes) {
        *error = Failure("unreadable \"Arguments\" in", rc);
        return false;
    }
    std::string data(size + 2, '\0'); // terminated even if the value is not
    rc = RegQueryValueExA(key.get(), kArgumentsValue, nullptr, &type,
                          reinterpret_cast<BYTE *>(&data[0]), &size);
    if (rc != ERROR_SUCCESS) {
        *error = Failure("unreadable \"Arguments\" in", rc);
        return false;
    }
    for (size_t at = 0; at < size && data[at] != '\0';) {
        size_t end = data.find('\0', at);
        args->push_back(data.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

void DeleteServerArguments()
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServerKeyPath);
    // Only when empty: other programs of the vendor may keep keys there.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kVendorKeyPath);
}

} // namespace historian
