// Readers for the client's output in tests: a strict JSON parser (so that
// "valid JSON" is checked, not assumed) and an RFC 4180 CSV reader; and the
// in-process run of a command against a server object.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "fake_historian.h"

namespace clienttest {

struct Json
{
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    std::wstring text;  // String: decoded; Number: as written; Bool: true/false
    std::vector<Json> items;
    std::vector<std::pair<std::wstring, Json>> members;

    const Json &operator[](const std::wstring &key) const;  // a missing key fails the test
    const Json &operator[](size_t i) const { return items.at(i); }
    bool Has(const std::wstring &key) const;
};

// Parses a whole document strictly (RFC 8259); on failure `error` says where.
bool ParseJson(const std::wstring &text, Json &out, std::wstring &error);

// Records of a CSV text (CRLF line ends, quoted fields).
std::vector<std::vector<std::wstring>> ParseCsv(const std::wstring &text);

struct RunResult
{
    int exit = -1;
    std::wstring out, err;
};

// Parses `args` (with "--server fake" put in front) and runs the command on
// `server` in-process, as zqhda.exe does after connecting.
RunResult RunClient(IUnknown *server, std::vector<std::wstring> args);

// A fake historian with two items for each test:
//   "Ramp": 100 values, value i at T0 + i s, quality 0x000400C0;
//   "Twin": values 1..6 where 3 and 4 share a time stamp (T0 + 2 s) and
//           5 and 6 another (T0 + 3 s).
class FakeServerTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    RunResult Run(std::vector<std::wstring> args)
    {
        return RunClient(static_cast<IOPCHDA_Server *>(fake_), std::move(args));
    }

    fake::FakeHistorian *fake_ = nullptr;
};

std::string Narrow(const std::wstring &text);

}  // namespace clienttest
