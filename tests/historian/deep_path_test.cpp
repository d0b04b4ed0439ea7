// The historian installed in a deep folder, with its history and journal in
// other deep folders, is registered from there and started by COM for a
// client: the program path and its options together are far longer than
// the MAX_PATH characters COM reads from LocalServer32. The folders are made
// under C:\ of the prefix, so the checkout's own path plays no part.
#include "historian_fixture.h"

#include <objbase.h>

#include <algorithm>

#include "historian_client.h"
#include "historian_identity.h"
#include "process_runner.h"
#include "server_key.h"

using namespace htest;

namespace {

// Creates base and folders below it until the path is exactly length
// characters; segments hold blanks.
std::string DeepFolder(const std::string &base, size_t length)
{
    std::string path = base;
    CreateDirectoryA(path.c_str(), nullptr);
    for (int level = 0; path.size() < length; ++level) {
        size_t room = length - path.size() - 1; // after the backslash
        size_t n = std::min<size_t>(room, 40);
        if (room - n == 1)
            --n; // leave room for one more segment of at least one character
        std::string segment(n, static_cast<char>('a' + level % 26));
        if (n > 4)
            segment[2] = ' ';
        path += "\\" + segment;
        CreateDirectoryA(path.c_str(), nullptr);
    }
    return path;
}

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

void WriteText(const std::string &path, const std::string &text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
}

// Copies the historian and the library into folder; the program's path.
std::string InstallHistorian(const std::string &folder)
{
    for (const char *file : {"ZqHistorian.exe", "ZqHDAsvr.dll"})
        EXPECT_TRUE(CopyFileA((zqtest::ProgramDirectory() + file).c_str(),
                              (folder + "\\" + file).c_str(), FALSE))
            << folder << "\\" << file;
    return folder + "\\ZqHistorian.exe";
}

bool ProgIdRegistered()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, historian::kHistorianProgId, 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class DeepInstall : public testing::Test
{
protected:
    void SetUp() override { CreateDirectoryA(root_.c_str(), nullptr); }
    void TearDown() override
    {
        zqtest::RunProcess("ZqHistorian.exe /UnregServer", 60000);
        RemoveTree(root_);
    }
    const std::string root_ = "C:\\zqdeep-" + std::to_string(GetCurrentProcessId());
};

TEST_F(DeepInstall, RegisteredThereItIsStartedByComWithItsOptions)
{
    // The program path alone fits (230 characters); with the two option
    // paths it would be about 670.
    const std::string exe = InstallHistorian(DeepFolder(root_ + "\\program", 214));
    ASSERT_EQ(exe.size(), 230u);
    const std::string data = DeepFolder(root_ + "\\history", 200);
    WriteText(data + "\\Deep.Flow.csv",
              "2024-03-01T00:00:00Z,1\n2024-03-01T00:01:00Z,2\n2024-03-01T00:02:00Z,3\n");
    const std::string journal = DeepFolder(root_ + "\\journal", 200) + "\\deep.journal";

    zqtest::ProcessResult r = zqtest::RunProcess(
        "\"" + exe + "\" /RegServer --grace 30 --data \"" + data + "\" --journal \"" + journal +
            "\"",
        60000);
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IOPCHDA_Server *server = nullptr;
    HRESULT hr = CoCreateInstance(historian::kHistorianClsid, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IOPCHDA_Server, reinterpret_cast<void **>(&server));
    ASSERT_EQ(hr, S_OK);
    EXPECT_TRUE(HeldOpen(journal)) << "the registered journal is in use";

    // The item exists only in the registered data folder.
    OPCHANDLE handle = ItemHandle(server, L"Deep.Flow", 7);
    OPCHANDLE client = 0;
    EXPECT_EQ(RawTimes(server, handle, Sec(0), Sec(600), &client),
              (std::vector<uint64_t>{Sec(0), Sec(60), Sec(120)}));
    EXPECT_EQ(client, 7u);
    server->Release();
    if (SUCCEEDED(init))
        CoUninitialize();

    // The server ends after its client; then its files can go.
    EXPECT_TRUE(WaitUntilClosed(journal, 30000))
        << "the server still runs 30 s after its client left";
    Sleep(500);
}

TEST_F(DeepInstall, RegistrationRefusesAProgramPathComCannotRead)
{
    // 258 characters: quoted, 260, one more than COM reads.
    const std::string exe = InstallHistorian(DeepFolder(root_ + "\\program", 242));
    ASSERT_EQ(exe.size(), 258u);
    zqtest::ProcessResult r = zqtest::RunProcess("\"" + exe + "\" /RegServer", 60000);
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("registration refused: the program path is too long for COM to start "
                            "the server: LocalServer32 would be 260 characters"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(ProgIdRegistered()) << "nothing written";
    std::vector<std::string> args;
    std::string error;
    EXPECT_TRUE(historian::ReadServerArguments(&args, &error));
    EXPECT_TRUE(args.empty());

    // One character less is registered.
    const std::string shorter = InstallHistorian(DeepFolder(root_ + "\\fits", 241));
    r = zqtest::RunProcess("\"" + shorter + "\" /RegServer", 60000);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(ProgIdRegistered());
}

} // namespace
