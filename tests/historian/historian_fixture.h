// Building blocks of the historian tests: times relative to a fixed base,
// series built from lists, and temporary folders.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <string>

#include "series.h"

namespace htest {

using historian::Ticks;

// 2024-03-01 00:00:00 UTC.
constexpr Ticks kBase = 133537248000000000ull;

inline Ticks Sec(long long seconds)
{
    return static_cast<Ticks>(static_cast<long long>(kBase) +
                              seconds * static_cast<long long>(historian::kTicksPerSecond));
}

struct Point
{
    long long second;
    double value;
    DWORD quality = historian::kRawGood;
    bool empty = false;
};

inline historian::Samples MakeSamples(std::initializer_list<Point> points)
{
    historian::Samples samples;
    for (const Point &p : points) {
        historian::Sample s;
        s.time = Sec(p.second);
        if (!p.empty)
            s.value = historian::Value(p.value);
        s.quality = p.quality;
        samples.push_back(std::move(s));
    }
    return samples;
}

inline double AsDouble(const historian::Value &v)
{
    double d = -1e300;
    EXPECT_TRUE(v.ToDouble(&d)) << "value type " << v.Type();
    return d;
}

// True while a process holds the file open for writing (a running
// historian holds its journal).
inline bool HeldOpen(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(h);
    return false;
}

// Waits until no process holds the file (HeldOpen); false after timeoutMs.
inline bool WaitUntilClosed(const std::string &path, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
        if (!HeldOpen(path))
            return true;
        Sleep(100);
    }
    return !HeldOpen(path);
}

// A fresh folder under the temporary folder, removed with its files.
class TempFolder
{
public:
    TempFolder()
    {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        static LONG counter = 0;
        path_ = std::string(base) + "zqhist_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(InterlockedIncrement(&counter));
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder()
    {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name != "." && name != "..")
                    DeleteFileA((path_ + "\\" + name).c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(path_.c_str());
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "\\" + name; }

    void Write(const std::string &name, const std::string &bytes) const
    {
        HANDLE f = CreateFileA(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE) << File(name);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        ASSERT_EQ(written, bytes.size());
    }

    std::string Read(const std::string &name) const
    {
        std::string bytes;
        HANDLE f = CreateFileA(File(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return bytes;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0)
            bytes.append(buffer, got);
        CloseHandle(f);
        return bytes;
    }

private:
    std::string path_;
};

} // namespace htest
