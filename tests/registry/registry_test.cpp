// Registration of the host's server, checked by reading the registry back
// from this process: a 32-bit program in a 64-bit prefix sees CLSID through
// Wow6432Node, exactly as the library does when it writes. The prefix's
// registry is private to the build folder; every test uses its own ProgID and
// class identifier and removes them again.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <comcat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "process_runner.h"
#include "runtime/registry.h"
#include "runtime/server_state.h"

using zqtest::RunProcess;

namespace {

const wchar_t kHdaCategoryText[] = L"OPC Historical Data Access Servers Version 1.0";

struct Value
{
    bool found = false;
    DWORD type = REG_NONE;
    std::string bytes; // raw data, terminator included
};

Value ReadValue(const std::string &path, const char *name)
{
    Value v;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.bytes.resize(size + 1);
        if (RegQueryValueExA(key, name, nullptr, &v.type, reinterpret_cast<BYTE *>(&v.bytes[0]),
                             &size) == ERROR_SUCCESS) {
            v.found = true;
            v.bytes.resize(size);
        }
    }
    RegCloseKey(key);
    return v;
}

bool KeyExists(const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The value is REG_SZ and holds exactly text and one terminating zero.
testing::AssertionResult HoldsText(const std::string &path, const char *name,
                                   const std::string &text)
{
    std::string where = path + " [" + (name != nullptr ? name : "(default)") + "]";
    Value v = ReadValue(path, name);
    if (!v.found)
        return testing::AssertionFailure() << where << " is missing";
    if (v.type != REG_SZ)
        return testing::AssertionFailure() << where << " has type " << v.type;
    if (v.bytes != text + '\0')
        return testing::AssertionFailure() << where << " holds \"" << v.bytes << "\" ("
                                           << v.bytes.size() << " bytes), expected \"" << text
                                           << "\" (" << text.size() + 1 << " bytes)";
    return testing::AssertionSuccess();
}

// One server identity per test. Leftovers of an earlier, aborted run are
// removed first, and whatever the test leaves is removed at the end.
struct TestServer
{
    TestServer(const CLSID &c, std::string prog, std::string text)
        : clsid(c), progId(std::move(prog)), classText(std::move(text))
    {
        Scrub();
    }
    ~TestServer() { Scrub(); }
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    void Scrub() const
    {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, progId.c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassKey().c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, AppIdKey().c_str());
    }
    std::string ClassKey() const { return "CLSID\\" + classText; }
    std::string AppIdKey() const { return "AppID\\" + classText; }

    CLSID clsid;
    std::string progId;    // as the key is named
    std::string classText; // as written
};

void ExpectRegistered(const TestServer &s, const std::string &description,
                      const std::string &serverPath)
{
    EXPECT_TRUE(HoldsText(s.progId, nullptr, description));
    EXPECT_TRUE(HoldsText(s.progId + "\\CLSID", nullptr, s.classText));
    EXPECT_TRUE(KeyExists(s.progId + "\\OPC"));
    EXPECT_FALSE(ReadValue(s.progId + "\\OPC", nullptr).found) << "the OPC key carries no value";
    EXPECT_TRUE(HoldsText(s.AppIdKey(), nullptr, s.progId));
    EXPECT_TRUE(HoldsText(s.ClassKey(), nullptr, s.progId));
    EXPECT_TRUE(HoldsText(s.ClassKey(), "AppID", s.classText));
    EXPECT_TRUE(HoldsText(s.ClassKey() + "\\LocalServer32", nullptr, serverPath));
    EXPECT_TRUE(HoldsText(s.ClassKey() + "\\ProgID", nullptr, s.progId));
}

void ExpectNothingLeft(const TestServer &s)
{
    EXPECT_FALSE(KeyExists(s.progId)) << s.progId;
    EXPECT_FALSE(KeyExists(s.ClassKey())) << s.ClassKey();
    EXPECT_FALSE(KeyExists(s.AppIdKey())) << s.AppIdKey();
}

// Runs the registration probe and returns the result it printed, or -100.
int Probe(const std::string &arguments)
{
    auto r = RunProcess("registry_probe.exe " + arguments, 30000);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    size_t at = r.output.find("result=");
    return at == std::string::npos ? -100 : std::atoi(r.output.c_str() + at + 7);
}

// The categories manager as OPC clients and server browsers query it.
class Categories
{
public:
    Categories()
    {
        void *p = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                       CLSCTX_INPROC_SERVER, IID_ICatInformation, &p)))
            info_ = static_cast<ICatInformation *>(p);
    }
    ~Categories()
    {
        if (info_ != nullptr)
            info_->Release();
    }
    Categories(const Categories &) = delete;
    Categories &operator=(const Categories &) = delete;

    bool Available() const { return info_ != nullptr; }

    HRESULT IsHdaServer(const CLSID &clsid) const
    {
        CATID hda = IID_CATID_OPCHDAServer10;
        CATID noneRequired = GUID_NULL;
        return info_->IsClassOfCategories(clsid, 1, &hda, 0, &noneRequired);
    }

    std::vector<CLSID> HdaServers() const
    {
        std::vector<CLSID> all;
        CATID hda = IID_CATID_OPCHDAServer10;
        IEnumCLSID *e = nullptr;
        if (FAILED(info_->EnumClassesOfCategories(1, &hda, static_cast<ULONG>(-1), nullptr, &e)) ||
            e == nullptr)
            return all;
        CLSID c;
        ULONG n = 0;
        while (e->Next(1, &c, &n) == S_OK && n == 1)
            all.push_back(c);
        e->Release();
        return all;
    }

    std::wstring HdaDescription() const
    {
        LPWSTR text = nullptr;
        if (FAILED(info_->GetCategoryDesc(IID_CATID_OPCHDAServer10, 0x409, &text)) ||
            text == nullptr)
            return L"";
        std::wstring d(text);
        CoTaskMemFree(text);
        return d;
    }

private:
    ICatInformation *info_ = nullptr;
};

bool Contains(const std::vector<CLSID> &list, const CLSID &clsid)
{
    for (const CLSID &c : list) {
        if (IsEqualCLSID(c, clsid))
            return true;
    }
    return false;
}

// Tests run with COM initialised for the multithreaded apartment on their
// thread; the categories manager needs it.
class Registration : public testing::Test
{
protected:
    void SetUp() override
    {
        com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_TRUE(SUCCEEDED(com_));
    }
    void TearDown() override
    {
        if (SUCCEEDED(com_))
            CoUninitialize();
    }

private:
    HRESULT com_ = E_FAIL;
};

const CLSID kRoundTrip = {0x0123ABCD, 0x4567, 0x89EF,
                          {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const char kRoundTripText[] = "{0123abcd-4567-89ef-0123-456789abcdef}";

} // namespace

TEST(ClassText, FieldsAreZeroPaddedLowerCaseHexadecimal)
{
    struct Case
    {
        CLSID clsid;
        const char *text;
    } cases[] = {
        {GUID_NULL, "{00000000-0000-0000-0000-000000000000}"},
        {kRoundTrip, kRoundTripText},
        {{0x1, 0x2, 0x3, {0x0, 0xA, 0x0, 0x0, 0x0, 0x0, 0x0, 0xF}},
         "{00000001-0002-0003-000a-00000000000f}"},
        {{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         "{ffffffff-ffff-ffff-ffff-ffffffffffff}"},
    };
    for (const Case &c : cases) {
        char text[zq::kClassTextSize];
        zq::FormatClassText(c.clsid, text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST_F(Registration, WritesEveryValueAndUnregisterRemovesEverything)
{
    TestServer s(kRoundTrip, "ZqHdaTest.RoundTrip.1", kRoundTripText);
    const std::string path = "C:\\zq\\roundtrip.exe";
    ASSERT_EQ(HDAUpdateRegistry(kRoundTrip, s.progId.c_str(), "Zq round trip", path.c_str()), 1);
    EXPECT_TRUE(IsEqualCLSID(zq::ServerClsid(), kRoundTrip));
    ExpectRegistered(s, "Zq round trip", path);
    EXPECT_FALSE(ReadValue(s.AppIdKey(), "LocalService").found);

    // Registering again opens the same keys and replaces the values.
    ASSERT_EQ(HDAUpdateRegistry(kRoundTrip, s.progId.c_str(), "Zq round trip 2", path.c_str()), 1);
    ExpectRegistered(s, "Zq round trip 2", path);

    EXPECT_EQ(HDAAddLocalServiceKeysToRegistry("ZqHdaTestService"), 1);
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "LocalService", "ZqHdaTestService"));
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "ServiceParameters", "-Service"));
    EXPECT_TRUE(HoldsText(s.AppIdKey(), nullptr, s.progId));

    EXPECT_EQ(UnregisterHDAServer(kRoundTrip, s.progId.c_str()), 1);
    ExpectNothingLeft(s);
    // Nothing left to open.
    EXPECT_EQ(UnregisterHDAServer(kRoundTrip, s.progId.c_str()), 0);
}

TEST_F(Registration, ClassJoinsTheHdaCategoryUntilUnregistered)
{
    const CLSID clsid = {0x5a1e3002, 0xbeef, 0x4c0d,
                         {0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6, 0x07, 0x18}};
    TestServer s(clsid, "ZqHdaTest.Category.1", "{5a1e3002-beef-4c0d-a1b2-c3d4e5f60718}");
    Categories categories;
    ASSERT_TRUE(categories.Available());
    EXPECT_NE(categories.IsHdaServer(clsid), S_OK);

    ASSERT_EQ(HDAUpdateRegistry1(&clsid, s.progId.c_str(), "Zq category", "C:\\zq\\c.exe"), 1);
    EXPECT_EQ(categories.IsHdaServer(clsid), S_OK);
    EXPECT_TRUE(Contains(categories.HdaServers(), clsid));
    EXPECT_EQ(categories.HdaDescription(), std::wstring(kHdaCategoryText));

    EXPECT_EQ(UnregisterHDAServer1(&clsid, s.progId.c_str()), 1);
    EXPECT_NE(categories.IsHdaServer(clsid), S_OK);
    EXPECT_FALSE(Contains(categories.HdaServers(), clsid));
    // The category itself stays for other servers.
    EXPECT_EQ(categories.HdaDescription(), std::wstring(kHdaCategoryText));
    ExpectNothingLeft(s);
}

TEST_F(Registration, CategoriesTheHostAddedKeepTheClassKey)
{
    const CLSID clsid = {0x5a1e300a, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xa}};
    const CATID own = {0x5a1e30ca, 0x7e57, 0x7e57, {0, 0, 0, 0, 0, 0, 0, 1}};
    TestServer s(clsid, "ZqHdaTest.OwnCategory.1", "{5a1e300a-0000-0000-0000-00000000000a}");
    ASSERT_EQ(HDAUpdateRegistry(clsid, s.progId.c_str(), "Own", "C:\\zq\\own.exe"), 1);
    void *p = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr,
                                           CLSCTX_INPROC_SERVER, IID_ICatRegister, &p)));
    auto reg = static_cast<ICatRegister *>(p);
    CATID implemented = own;
    EXPECT_EQ(reg->RegisterClassImplCategories(clsid, 1, &implemented), S_OK);
    reg->Release();

    EXPECT_EQ(UnregisterHDAServer(clsid, s.progId.c_str()), 1);
    EXPECT_FALSE(KeyExists(s.progId));
    EXPECT_FALSE(KeyExists(s.AppIdKey()));
    EXPECT_FALSE(KeyExists(s.ClassKey() + "\\LocalServer32"));
    EXPECT_FALSE(KeyExists(s.ClassKey() + "\\ProgID"));
    EXPECT_FALSE(KeyExists(s.ClassKey() +
                           "\\Implemented Categories\\{7de5b060-e089-11d2-a5e6-000086339399}"));
    // The host's own category is not the library's to remove.
    EXPECT_TRUE(KeyExists(s.ClassKey() +
                          "\\Implemented Categories\\{5a1e30ca-7e57-7e57-0000-000000000001}"));
}

TEST_F(Registration, WithoutComOnTheThreadEveryKeyIsWrittenButTheResultIsZero)
{
    const CLSID clsid = {0x5a1e3003, 0x1, 0x2, {0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xa}};
    TestServer s(clsid, "ZqHdaTest.NoCom.1", "{5a1e3003-0001-0002-0304-05060708090a}");
    // The probe's only thread never initialises COM.
    EXPECT_EQ(Probe("update " + s.classText + " " + s.progId +
                    " ZqNoComServer C:\\zq\\nocom.exe"),
              0);
    ExpectRegistered(s, "ZqNoComServer", "C:\\zq\\nocom.exe");
    Categories categories;
    ASSERT_TRUE(categories.Available());
    EXPECT_NE(categories.IsHdaServer(clsid), S_OK);

    EXPECT_EQ(UnregisterHDAServer(clsid, s.progId.c_str()), 1);
    ExpectNothingLeft(s);
}

TEST_F(Registration, ServiceKeysGoToTheLastRegisteredClassOnly)
{
    const CLSID first = {0x5a1e3004, 0xa, 0xb, {0xc, 0xd, 0xe, 0xf, 0, 0, 0, 1}};
    const CLSID second = {0x5a1e3004, 0xa, 0xb, {0xc, 0xd, 0xe, 0xf, 0, 0, 0, 2}};
    TestServer a(first, "ZqHdaTest.Service.A", "{5a1e3004-000a-000b-0c0d-0e0f00000001}");
    TestServer b(second, "ZqHdaTest.Service.B", "{5a1e3004-000a-000b-0c0d-0e0f00000002}");

    // No AppID key for the server class yet: nothing is written or created.
    zq::SetServerClsid(first);
    EXPECT_EQ(HDAAddLocalServiceKeysToRegistry("ZqServiceA"), 0);
    EXPECT_FALSE(KeyExists(a.AppIdKey()));

    ASSERT_EQ(HDAUpdateRegistry(first, a.progId.c_str(), "A", "C:\\a.exe"), 1);
    ASSERT_EQ(HDAUpdateRegistry(second, b.progId.c_str(), "B", "C:\\b.exe"), 1);
    EXPECT_EQ(HDAAddLocalServiceKeysToRegistry("ZqServiceB"), 1);
    EXPECT_TRUE(HoldsText(b.AppIdKey(), "LocalService", "ZqServiceB"));
    EXPECT_TRUE(HoldsText(b.AppIdKey(), "ServiceParameters", "-Service"));
    EXPECT_FALSE(ReadValue(a.AppIdKey(), "LocalService").found);
    EXPECT_FALSE(ReadValue(a.AppIdKey(), "ServiceParameters").found);

    EXPECT_EQ(UnregisterHDAServer(first, a.progId.c_str()), 1);
    EXPECT_EQ(UnregisterHDAServer(second, b.progId.c_str()), 1);
    ExpectNothingLeft(a);
    ExpectNothingLeft(b);
}

TEST_F(Registration, FreshProcessAddsServiceKeysToTheAllZeroClass)
{
    TestServer s(GUID_NULL, "ZqHdaTest.ZeroClass.1", "{00000000-0000-0000-0000-000000000000}");
    // A process that has stored no class identifier works on all zeros, and
    // needs the AppID key that a registration makes.
    EXPECT_EQ(Probe("service ZqZeroService"), 0);
    EXPECT_FALSE(KeyExists(s.AppIdKey()));

    ASSERT_EQ(HDAUpdateRegistry(GUID_NULL, s.progId.c_str(), "Zero", "C:\\zq\\zero.exe"), 1);
    ExpectRegistered(s, "Zero", "C:\\zq\\zero.exe");
    EXPECT_EQ(Probe("service ZqZeroService"), 1);
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "LocalService", "ZqZeroService"));
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "ServiceParameters", "-Service"));

    EXPECT_EQ(UnregisterHDAServer(GUID_NULL, s.progId.c_str()), 1);
    ExpectNothingLeft(s);
}

TEST_F(Registration, UnregisterOfAServerNeverRegisteredReturnsZero)
{
    const CLSID clsid = {0x5a1e3005, 0, 0, {0, 0, 0, 0, 0, 0, 0, 5}};
    TestServer s(clsid, "ZqHdaTest.Never.1", "{5a1e3005-0000-0000-0000-000000000005}");
    EXPECT_EQ(UnregisterHDAServer(clsid, s.progId.c_str()), 0);
    EXPECT_EQ(UnregisterHDAServer1(&clsid, s.progId.c_str()), 0);
    ExpectNothingLeft(s);
}

TEST_F(Registration, LongTextsAreCutToTheirBuffersAndTerminated)
{
    const CLSID clsid = {0x5a1e3006, 0, 0, {0, 0, 0, 0, 0, 0, 0, 6}};
    const std::string longProgId = "ZqHdaTest.Long." + std::string(200, 'p');
    TestServer s(clsid, longProgId.substr(0, 99), "{5a1e3006-0000-0000-0000-000000000006}");

    // 99 characters fit with the terminator, 100 do not.
    const std::string fits(99, 'd');
    ASSERT_EQ(HDAUpdateRegistry(clsid, longProgId.c_str(), fits.c_str(), "C:\\x.exe"), 1);
    ExpectRegistered(s, fits, "C:\\x.exe");
    EXPECT_FALSE(KeyExists(longProgId));

    const std::string longPath = "C:\\" + std::string(700, 'x');
    ASSERT_EQ(HDAUpdateRegistry(clsid, longProgId.c_str(), (fits + "dd").c_str(),
                                longPath.c_str()),
              1);
    ExpectRegistered(s, fits, longPath.substr(0, 399));

    EXPECT_EQ(HDAAddLocalServiceKeysToRegistry(std::string(300, 's').c_str()), 1);
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "LocalService", std::string(99, 's')));

    // A quoted path keeps both quotes within the limit.
    const std::string longBlankPath = "C:\\Program Files\\" + std::string(700, 'y') + ".exe";
    ASSERT_EQ(HDAUpdateRegistry(clsid, longProgId.c_str(), "d", longBlankPath.c_str()), 1);
    EXPECT_TRUE(HoldsText(s.ClassKey() + "\\LocalServer32", nullptr,
                          "\"" + longBlankPath.substr(0, 397) + "\""));

    // Unregistering with the same long ProgID finds the cut key.
    EXPECT_EQ(UnregisterHDAServer(clsid, longProgId.c_str()), 1);
    ExpectNothingLeft(s);
}

// Only a text that as a whole is a program path (ends in .exe, or names an
// existing file) with a blank is quoted; a command line with arguments, a
// quoted text and anything else stays exactly as given.
TEST_F(Registration, OnlyAWholeProgramPathWithBlanksIsQuoted)
{
    const CLSID clsid = {0x5a1e3007, 0, 0, {0, 0, 0, 0, 0, 0, 0, 7}};
    TestServer s(clsid, "ZqHdaTest.Quote.1", "{5a1e3007-0000-0000-0000-000000000007}");
    // An existing file whose name does not end in .exe.
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    const std::string file = std::string(temp) + "zq quote " +
                             std::to_string(GetCurrentProcessId()) + ".bin";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    struct Case
    {
        std::string path;
        std::string written;
    } cases[] = {
        {"C:\\Program Files\\Zq\\server.exe", "\"C:\\Program Files\\Zq\\server.exe\""},
        {"C:\\Program Files\\Zq\\SERVER.Exe", "\"C:\\Program Files\\Zq\\SERVER.Exe\""},
        {file, "\"" + file + "\""},
        {"\"C:\\Program Files\\Zq\\server.exe\"", "\"C:\\Program Files\\Zq\\server.exe\""},
        {"\"C:\\Program Files\\Zq\\server.exe\" -Service",
         "\"C:\\Program Files\\Zq\\server.exe\" -Service"},
        {"C:\\app\\server.exe -opt", "C:\\app\\server.exe -opt"},
        {"C:\\Program Files\\Zq\\server.exe --data C:\\x", "C:\\Program Files\\Zq\\server.exe --data C:\\x"},
        {file + " -opt", file + " -opt"},
        {"C:\\No Such Folder\\server", "C:\\No Such Folder\\server"},
        {"C:\\Zq\\server.exe", "C:\\Zq\\server.exe"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(HDAUpdateRegistry1(&clsid, s.progId.c_str(), "Quote", c.path.c_str()), 1)
            << c.path;
        EXPECT_TRUE(HoldsText(s.ClassKey() + "\\LocalServer32", nullptr, c.written)) << c.path;
    }
    DeleteFileA(file.c_str());
    EXPECT_EQ(UnregisterHDAServer(clsid, s.progId.c_str()), 1);
    ExpectNothingLeft(s);
}

TEST_F(Registration, MissingOrUnusableProgIdIsRefusedWithoutTouchingTheRegistry)
{
    const CLSID clsid = {0x5a1e3008, 0, 0, {0, 0, 0, 0, 0, 0, 0, 8}};
    TestServer s(clsid, "ZqHdaTest", "{5a1e3008-0000-0000-0000-000000000008}");
    const Value rootBefore = ReadValue("", nullptr);

    for (const char *progId : {static_cast<const char *>(nullptr), "", "ZqHdaTest\\Nested"}) {
        EXPECT_EQ(HDAUpdateRegistry(clsid, progId, "Refused", "C:\\r.exe"), 0);
        EXPECT_EQ(UnregisterHDAServer(clsid, progId), 0);
    }
    const Value rootAfter = ReadValue("", nullptr);
    EXPECT_EQ(rootAfter.found, rootBefore.found);
    EXPECT_EQ(rootAfter.bytes, rootBefore.bytes);
    EXPECT_FALSE(KeyExists("OPC"));
    ExpectNothingLeft(s);

    EXPECT_EQ(HDAUpdateRegistry1(nullptr, "ZqHdaTest", "Refused", "C:\\r.exe"), 0);
    EXPECT_EQ(UnregisterHDAServer1(nullptr, "ZqHdaTest"), 0);
    ExpectNothingLeft(s);
}

TEST_F(Registration, NullDescriptionPathAndServiceNameAreWrittenEmpty)
{
    const CLSID clsid = {0x5a1e3009, 0, 0, {0, 0, 0, 0, 0, 0, 0, 9}};
    TestServer s(clsid, "ZqHdaTest.Null.1", "{5a1e3009-0000-0000-0000-000000000009}");
    ASSERT_EQ(HDAUpdateRegistry(clsid, s.progId.c_str(), nullptr, nullptr), 1);
    ExpectRegistered(s, "", "");
    EXPECT_EQ(HDAAddLocalServiceKeysToRegistry(nullptr), 1);
    EXPECT_TRUE(HoldsText(s.AppIdKey(), "LocalService", ""));
    EXPECT_EQ(UnregisterHDAServer(clsid, s.progId.c_str()), 1);
    ExpectNothingLeft(s);
}
