// ZqHistorian.exe /RegServer and /UnregServer, run as child processes, write
// and remove the historian's registration in this test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "historian_identity.h"
#include "process_runner.h"
#include "server_key.h"

namespace {

const std::string kClassText = "{ed451831-03d7-4cf8-bbe8-07425de5937a}";
const std::string kProgId = historian::kHistorianProgId;

bool KeyExists(const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string DefaultValue(const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no key>";
    char data[1024] = {};
    DWORD size = sizeof data - 1, type = 0;
    LONG rc = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : "<no value>";
}

bool OptionsKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, historian::kServerKeyPath, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<std::string> RegisteredArguments()
{
    std::vector<std::string> args;
    std::string error;
    EXPECT_TRUE(historian::ReadServerArguments(&args, &error)) << error;
    return args;
}

zqtest::ProcessResult Historian(const std::string &arguments)
{
    zqtest::ProcessResult r = zqtest::RunProcess("ZqHistorian.exe " + arguments, 60000);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << r.output;
    return r;
}

class HistorianRegistration : public testing::Test
{
protected:
    void TearDown() override
    {
        // Whatever happened, the prefix is left without the registration.
        Historian("/UnregServer");
        EXPECT_FALSE(KeyExists(kProgId));
        EXPECT_FALSE(OptionsKeyExists());
    }
};

TEST_F(HistorianRegistration, RegisterThenUnregister)
{
    zqtest::ProcessResult r = Historian("/RegServer");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(DefaultValue(kProgId), historian::kHistorianDescription);
    EXPECT_EQ(DefaultValue(kProgId + "\\CLSID"), kClassText);
    EXPECT_TRUE(KeyExists(kProgId + "\\OPC"));
    EXPECT_EQ(DefaultValue("CLSID\\" + kClassText + "\\ProgID"), kProgId);
    EXPECT_EQ(DefaultValue("AppID\\" + kClassText), kProgId);
    std::string server = DefaultValue("CLSID\\" + kClassText + "\\LocalServer32");
    EXPECT_EQ(server, "\"" + zqtest::ProgramDirectory() + "ZqHistorian.exe\"")
        << "the executable's own full path, quoted";
    EXPECT_TRUE(RegisteredArguments().empty());

    r = Historian("/UnregServer");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(KeyExists(kProgId));
    EXPECT_FALSE(KeyExists("CLSID\\" + kClassText));
    EXPECT_FALSE(KeyExists("AppID\\" + kClassText));
    EXPECT_FALSE(OptionsKeyExists());

    r = Historian("/UnregServer");
    EXPECT_NE(r.exitCode, 0u) << "nothing left to remove: " << r.output;
}

// COM reads LocalServer32 into a MAX_PATH buffer: the options stay out of
// it, in the historian's own key, one argument per string.
TEST_F(HistorianRegistration, OptionsGoIntoTheHistoriansOwnKey)
{
    zqtest::ProcessResult r = Historian("/RegServer --data \"C:\\plant history\" --days 5");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    std::string server = DefaultValue("CLSID\\" + kClassText + "\\LocalServer32");
    EXPECT_EQ(server, "\"" + zqtest::ProgramDirectory() + "ZqHistorian.exe\"");
    const std::vector<std::string> expected = {"--data", "C:\\plant history", "--days", "5"};
    EXPECT_EQ(RegisteredArguments(), expected);

    // Registering again replaces them.
    r = Historian("/RegServer --tick 20");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(RegisteredArguments(), (std::vector<std::string>{"--tick", "20"}));
}

TEST(HistorianCommandLine, BadArgumentsEndWithUsage)
{
    zqtest::ProcessResult r = Historian("--days zero");
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_NE(r.output.find("usage:"), std::string::npos) << r.output;
    EXPECT_FALSE(KeyExists(kProgId));
}

} // namespace
