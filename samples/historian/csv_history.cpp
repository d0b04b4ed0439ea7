#include "csv_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "attributes.h"

namespace historian {

namespace {

std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::wstring Widen(const std::string &s)
{
    if (s.empty())
        return std::wstring();
    UINT page = CP_UTF8;
    int n = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                                nullptr, 0);
    if (n <= 0) {
        page = CP_ACP;
        n = MultiByteToWideChar(page, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    }
    if (n <= 0)
        return std::wstring();
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(page, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, s.data(),
                        static_cast<int>(s.size()), &w[0], n);
    return w;
}

// Splits a line at commas outside double quotes; quoted fields lose their
// quotes ("" stands for one quote) and are marked quoted.
bool SplitFields(const std::string &line, std::vector<std::string> *fields,
                 std::vector<bool> *quoted)
{
    fields->clear();
    quoted->clear();
    std::string field;
    bool inQuotes = false, wasQuoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                field += c;
            }
        } else if (c == '"' && Trim(field).empty()) {
            field.clear();
            inQuotes = wasQuoted = true;
        } else if (c == ',') {
            fields->push_back(wasQuoted ? field : Trim(field));
            quoted->push_back(wasQuoted);
            field.clear();
            wasQuoted = false;
        } else if (!wasQuoted) {
            field += c;
        } else if (c != ' ' && c != '\t' && c != '\r') {
            return false; // text after a closing quote
        }
    }
    if (inQuotes)
        return false;
    fields->push_back(wasQuoted ? field : Trim(field));
    quoted->push_back(wasQuoted);
    return true;
}

bool ParseNumber(const std::string &s, double *out)
{
    if (s.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || errno == ERANGE)
        return false;
    *out = v;
    return true;
}

bool ParseQuality(const std::string &s, DWORD *out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (end != s.c_str() + s.size() || errno == ERANGE || v > 0xFFFFFFFFull || s[0] == '-')
        return false;
    *out = static_cast<DWORD>(v);
    return true;
}

bool ParseBool(const std::string &s, bool *out)
{
    if (_stricmp(s.c_str(), "true") == 0) {
        *out = true;
        return true;
    }
    if (_stricmp(s.c_str(), "false") == 0) {
        *out = false;
        return true;
    }
    return false;
}

} // namespace

bool ParseTimeStamp(const std::string &text, Ticks *out)
{
    return zq::ParseIso8601(Trim(text), zq::IsoForm::Exact, *out) == zq::IsoResult::Parsed;
}

bool ParseCsvHistory(const std::string &text, Ticks loadTime, Series *series, std::string *error)
{
    ItemInfo info;
    info.description = L"History loaded from " + Widen(series->Id()) + L".csv";
    bool steppedGiven = false, maxGiven = false, minGiven = false;
    bool allNumbers = true, allBools = true;
    Samples samples;
    std::vector<std::string> fields;
    std::vector<bool> quoted;
    size_t lineNumber = 0, pos = 0;
    bool firstDataLine = true;
    auto fail = [&](const std::string &reason) {
        *error = "line " + std::to_string(lineNumber) + ": " + reason;
        return false;
    };
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
        pos = eol == std::string::npos ? text.size() : eol + 1;
        ++lineNumber;
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3); // byte order mark
        std::string trimmed = Trim(line);
        if (trimmed.empty())
            continue;
        if (trimmed.compare(0, 2, "#@") == 0) {
            size_t eq = trimmed.find('=');
            if (eq == std::string::npos)
                return fail("attribute line without '='");
            std::string name = Trim(trimmed.substr(2, eq - 2)), value = Trim(trimmed.substr(eq + 1));
            double number;
            bool flag;
            if (name == "Description") {
                info.description = Widen(value);
            } else if (name == "Eng Units") {
                info.units = Widen(value);
            } else if (name == "Stepped" && ParseBool(value, &flag)) {
                info.stepped = flag;
                steppedGiven = true;
            } else if (name == "Normal Maximum" && ParseNumber(value, &number)) {
                info.normalMaximum = number;
                maxGiven = true;
            } else if (name == "Normal Minimum" && ParseNumber(value, &number)) {
                info.normalMinimum = number;
                minGiven = true;
            } else {
                return fail("unknown attribute or bad value: " + name);
            }
            continue;
        }
        if (trimmed[0] == '#')
            continue;
        if (!SplitFields(line, &fields, &quoted))
            return fail("unbalanced quotes");
        Sample s;
        if (!ParseTimeStamp(fields[0], &s.time)) {
            if (firstDataLine) { // a column header
                firstDataLine = false;
                continue;
            }
            return fail("bad time stamp '" + fields[0] + "'");
        }
        firstDataLine = false;
        if (fields.size() < 2 || fields.size() > 3)
            return fail("expected time stamp, value[, quality]");
        const std::string &v = fields[1];
        double number;
        bool flag;
        if (quoted[1]) {
            s.value = Value::Text(Widen(v));
        } else if (v.empty()) {
            s.value = Value();
        } else if (ParseNumber(v, &number)) {
            s.value = Value(number);
        } else if (ParseBool(v, &flag)) {
            s.value = Value::Bool(flag);
        } else {
            s.value = Value::Text(Widen(v));
        }
        if (!s.value.IsEmpty()) {
            allNumbers = allNumbers && s.value.Type() == VT_R8;
            allBools = allBools && s.value.Type() == VT_BOOL;
        }
        if (fields.size() == 3 && !ParseQuality(fields[2], &s.quality))
            return fail("bad quality '" + fields[2] + "'");
        samples.push_back(std::move(s));
    }
    info.type = allNumbers ? VT_R8 : allBools ? VT_BOOL : VT_EMPTY;
    if (!steppedGiven)
        info.stepped = info.type != VT_R8;
    series->Load(std::move(samples));
    if (info.type == VT_R8) {
        // Unless given, the normal range is the range of the history.
        double lowest = 0, highest = 0;
        series->Read([&](const Samples &all) {
            bool any = false;
            for (const Sample &x : all) {
                double d;
                if (!x.value.ToDouble(&d))
                    continue;
                lowest = any && lowest < d ? lowest : d;
                highest = any && highest > d ? highest : d;
                any = true;
            }
        });
        info.hasNormalRange = true;
        info.normalMaximum = maxGiven ? info.normalMaximum : highest;
        info.normalMinimum = minGiven ? info.normalMinimum : lowest;
    }
    ApplyItemInfo(*series, info, loadTime);
    return true;
}

std::string ItemIdFromFileName(const std::string &fileName)
{
    if (fileName.size() <= 4 || _stricmp(fileName.c_str() + fileName.size() - 4, ".csv") != 0)
        return std::string();
    return fileName.substr(0, fileName.size() - 4);
}

namespace {

bool ReadWholeFile(const std::string &path, std::string *out)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    out->clear();
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        out->append(buffer, got);
    CloseHandle(file);
    return ok;
}

} // namespace

bool LoadCsvFolder(const std::string &folder, Ticks loadTime, Store *store, std::string *error)
{
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "*.csv").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES)
            return true; // an empty folder
        *error = "cannot list " + folder + " (error " + std::to_string(e) + ")";
        return false;
    }
    std::vector<std::string> names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            !ItemIdFromFileName(found.cFileName).empty())
            names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());

    for (const std::string &name : names) {
        std::string text;
        if (!ReadWholeFile(dir + name, &text)) {
            *error = "cannot read " + dir + name;
            return false;
        }
        Series *series = store->Add(ItemIdFromFileName(name));
        if (series == nullptr) {
            *error = name + ": item defined twice";
            return false;
        }
        std::string reason;
        if (!ParseCsvHistory(text, loadTime, series, &reason)) {
            *error = dir + name + ", " + reason;
            return false;
        }
    }
    return true;
}

} // namespace historian
