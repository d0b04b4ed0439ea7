// ZqOpcHda_ps.dll registers beside other proxy/stub DLLs of the same
// interfaces: a foreign registration whose file exists survives our register
// and unregister, one whose file or class is gone is taken over, and
// unregistering removes only what names our factory.
//
// The tests fake foreign registrations in the prefix, which the other test
// programs rely on (hence RUN_SERIAL), and give the prefix back as the setup
// left it: every interface registered for our factory. The foreign DLL file
// is opened delete-on-close, so even after a crash the fakes name a missing
// file and the next regsvr32 of the prefix setup takes them back.
#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>

#include "classes_registry.h"
#include "interface_facts.h"
#include "ps_clsid.h"

namespace idltest {
namespace {

const std::wstring kOurs = L"" ZQ_OPC_PS_CLSID_TEXT_W;

// Foreign proxy/stub classes: one per way of naming a file that exists,
// one whose file is missing and one that is not registered at all.
const std::wstring kForeignPlain = L"{7D1E0A41-3C5B-4F0E-9A61-0B7C2E5D8F01}";
const std::wstring kForeignExpanded = L"{7D1E0A41-3C5B-4F0E-9A61-0B7C2E5D8F02}";
const std::wstring kForeignGone = L"{7D1E0A41-3C5B-4F0E-9A61-0B7C2E5D8F03}";
const std::wstring kForeignUnregistered = L"{7D1E0A41-3C5B-4F0E-9A61-0B7C2E5D8F04}";
const wchar_t kForeignFile[] = L"zq foreign ps.dll";

void WriteClassesValue(const std::wstring &path, const std::wstring &text, DWORD type = REG_SZ)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS)
        << path.c_str();
    RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void DeleteClassesTree(const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, 0);
}

std::wstring InterfaceKey(size_t index) { return std::wstring(L"Interface\\") + Interfaces()[index].iid; }

std::wstring Widen(const char *text) { return std::wstring(text, text + strlen(text)); }

// The three entries of an interface registration.
struct InterfaceEntry
{
    std::wstring name, methods, proxy;
    bool operator==(const InterfaceEntry &o) const { return name == o.name && methods == o.methods && proxy == o.proxy; }
};

void PrintTo(const InterfaceEntry &e, std::ostream *os)
{
    *os << ::testing::PrintToString(e.name) << ", NumMethods " << ::testing::PrintToString(e.methods)
        << ", ProxyStubClsid32 " << ::testing::PrintToString(e.proxy);
}

InterfaceEntry ReadInterface(size_t index)
{
    std::wstring key = InterfaceKey(index);
    return {ReadClassesValue(key), ReadClassesValue(key + L"\\NumMethods"),
            Upper(ReadClassesValue(key + L"\\ProxyStubClsid32"))};
}

InterfaceEntry Ours(size_t index)
{
    return {Widen(Interfaces()[index].name), std::to_wstring(Interfaces()[index].entries), kOurs};
}

InterfaceEntry Foreign(const std::wstring &clsid) { return {L"foreign", L"1", clsid}; }

// Interfaces (by index into Interfaces()) given to each foreign class.
enum : size_t { kPlain, kExpanded, kGone, kUnregistered, kOursLowerCase, kFaked };

class Coexistence : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_GT(Interfaces().size(), size_t(kFaked));
        dll_ = LoadLibraryW(L"ZqOpcHda_ps.dll");
        ASSERT_NE(dll_, nullptr);
        register_ = Export("DllRegisterServer");
        unregister_ = Export("DllUnregisterServer");
        ASSERT_TRUE(register_ && unregister_);

        wchar_t dir[MAX_PATH] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
        SetEnvironmentVariableW(L"ZQ_FOREIGN_PS_DIR", dir);
        std::wstring file = std::wstring(dir) + kForeignFile;
        file_ = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        ASSERT_NE(file_, INVALID_HANDLE_VALUE);

        RemoveFakes();
        FakeInterface(kPlain, kForeignPlain);
        WriteClassesValue(L"CLSID\\" + kForeignPlain + L"\\InprocServer32", file);
        FakeInterface(kExpanded, kForeignExpanded);
        WriteClassesValue(L"CLSID\\" + kForeignExpanded + L"\\InprocServer32",
                          std::wstring(L"  \"%ZQ_FOREIGN_PS_DIR%") + kForeignFile + L"\"", REG_EXPAND_SZ);
        FakeInterface(kGone, kForeignGone);
        WriteClassesValue(L"CLSID\\" + kForeignGone + L"\\InprocServer32", L"C:\\nowhere\\gone_ps.dll");
        FakeInterface(kUnregistered, kForeignUnregistered);
        // Our own registration as some tools write it: the class ID in lower case.
        std::wstring lower = kOurs;
        for (wchar_t &c : lower)
            c = static_cast<wchar_t>(std::towlower(c));
        WriteClassesValue(InterfaceKey(kOursLowerCase) + L"\\ProxyStubClsid32", lower);
    }

    // Gives the prefix back as the setup left it, whatever the test did.
    void TearDown() override
    {
        if (register_) {
            RemoveFakes();
            EXPECT_EQ(register_(), S_OK);
            for (size_t i = 0; i < Interfaces().size(); ++i)
                EXPECT_EQ(ReadInterface(i), Ours(i)) << Interfaces()[i].name;
        }
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
        if (dll_ != nullptr)
            FreeLibrary(dll_);
    }

    void FakeInterface(size_t index, const std::wstring &clsid)
    {
        WriteClassesValue(InterfaceKey(index), L"foreign");
        WriteClassesValue(InterfaceKey(index) + L"\\NumMethods", L"1");
        WriteClassesValue(InterfaceKey(index) + L"\\ProxyStubClsid32", clsid);
    }

    static void RemoveFakes()
    {
        for (size_t i = 0; i < kFaked; ++i)
            DeleteClassesTree(InterfaceKey(i));
        for (const std::wstring &clsid : {kForeignPlain, kForeignExpanded, kForeignGone, kForeignUnregistered})
            DeleteClassesTree(L"CLSID\\" + clsid);
    }

    // The interfaces that keep their foreign registration are unchanged.
    static void ExpectForeignKept()
    {
        EXPECT_EQ(ReadInterface(kPlain), Foreign(kForeignPlain));
        EXPECT_EQ(ReadInterface(kExpanded), Foreign(kForeignExpanded));
        EXPECT_TRUE(ClassesKeyExists(L"CLSID\\" + kForeignPlain + L"\\InprocServer32"));
        EXPECT_TRUE(ClassesKeyExists(L"CLSID\\" + kForeignExpanded + L"\\InprocServer32"));
    }

    using Entry = HRESULT(STDAPICALLTYPE *)();
    Entry Export(const char *name)
    {
        return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(dll_, name)));
    }

    HMODULE dll_ = nullptr;
    Entry register_ = nullptr;
    Entry unregister_ = nullptr;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(Coexistence, RegisterKeepsWorkingForeignProxiesAndTakesOverBrokenOnes)
{
    ASSERT_EQ(register_(), S_OK);
    ExpectForeignKept();
    for (size_t i = kGone; i < Interfaces().size(); ++i)
        EXPECT_EQ(ReadInterface(i), Ours(i)) << Interfaces()[i].name;
    EXPECT_EQ(ReadClassesValue(L"CLSID\\" + kForeignGone + L"\\InprocServer32"), L"C:\\nowhere\\gone_ps.dll");
    std::wstring server = L"CLSID\\" + kOurs + L"\\InprocServer32";
    std::wstring path = Upper(ReadClassesValue(server));
    ASSERT_GT(path.size(), 16u);
    EXPECT_EQ(path.substr(path.size() - 16), L"\\ZQOPCHDA_PS.DLL");
    EXPECT_EQ(ReadClassesValue(server, L"ThreadingModel"), L"Both");
}

// Straight from the prefix's state: ours everywhere except the fakes, one of
// ours written in lower case. Then registering again brings ours back.
TEST_F(Coexistence, UnregisterRemovesOnlyWhatNamesOurFactoryAndRegisterRestoresIt)
{
    ASSERT_EQ(unregister_(), S_OK);
    ExpectForeignKept();
    // Broken, but not ours: left for their owner.
    EXPECT_EQ(ReadInterface(kGone), Foreign(kForeignGone));
    EXPECT_EQ(ReadInterface(kUnregistered), Foreign(kForeignUnregistered));
    for (size_t i = kOursLowerCase; i < Interfaces().size(); ++i)
        EXPECT_FALSE(ClassesKeyExists(InterfaceKey(i))) << Interfaces()[i].name;
    EXPECT_FALSE(ClassesKeyExists(L"CLSID\\" + kOurs));
    EXPECT_EQ(unregister_(), S_OK);  // nothing of ours left to remove
    ExpectForeignKept();

    ASSERT_EQ(register_(), S_OK);
    ExpectForeignKept();
    for (size_t i = kGone; i < Interfaces().size(); ++i)
        EXPECT_EQ(ReadInterface(i), Ours(i)) << Interfaces()[i].name;
    EXPECT_EQ(ReadClassesValue(L"CLSID\\" + kOurs + L"\\InprocServer32", L"ThreadingModel"), L"Both");
}

// Once the foreign file is gone, its registration is taken over too.
TEST_F(Coexistence, ForeignRegistrationWhoseFileWasDeletedIsTakenOver)
{
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    ASSERT_EQ(register_(), S_OK);
    for (size_t i = 0; i < Interfaces().size(); ++i)
        EXPECT_EQ(ReadInterface(i), Ours(i)) << Interfaces()[i].name;
}

}  // namespace
}  // namespace idltest
