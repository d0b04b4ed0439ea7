// ZqHistorian.exe /RegServer and /UnregServer, run as child processes, write
// and remove the historian's registration in this test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "historian_identity.h"
#include "process_runner.h"

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
    std::string exe = zqtest::ProgramDirectory() + "ZqHistorian.exe";
    if (exe.find(' ') != std::string::npos)
        exe = "\"" + exe + "\"";
    EXPECT_EQ(server, exe) << "the executable's own full path";

    r = Historian("/UnregServer");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(KeyExists(kProgId));
    EXPECT_FALSE(KeyExists("CLSID\\" + kClassText));
    EXPECT_FALSE(KeyExists("AppID\\" + kClassText));

    r = Historian("/UnregServer");
    EXPECT_NE(r.exitCode, 0u) << "nothing left to remove: " << r.output;
}

TEST_F(HistorianRegistration, OptionsGoIntoTheServerCommandLine)
{
    zqtest::ProcessResult r = Historian("/RegServer --data \"C:\\plant history\" --days 5");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    std::string server = DefaultValue("CLSID\\" + kClassText + "\\LocalServer32");
    EXPECT_EQ(server, "\"" + zqtest::ProgramDirectory() +
                          "ZqHistorian.exe\" --data \"C:\\plant history\" --days 5");
}

TEST(HistorianCommandLine, BadArgumentsEndWithUsage)
{
    zqtest::ProcessResult r = Historian("--days zero");
    EXPECT_EQ(r.exitCode, 2u);
    EXPECT_NE(r.output.find("usage:"), std::string::npos) << r.output;
    EXPECT_FALSE(KeyExists(kProgId));
}

} // namespace
