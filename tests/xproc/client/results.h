// Copies of OPC HDA results that outlive the call (a sink's [in] arrays are
// freed when the call returns) and the checks of the canned values.
#pragma once

#include <string>
#include <vector>

#include "xproc_canned.h"

namespace xclient {

unsigned long long Ticks(const FILETIME &time);

struct OwnedValue
{
    VARTYPE vt = VT_EMPTY;
    double r8 = 0;
    short i2 = 0;
    std::wstring text;
};

struct OwnedItem
{
    OPCHANDLE hClient = 0;
    DWORD aggregate = 0;
    DWORD count = 0;
    bool hasTimes = false, hasQualities = false, hasValues = false;
    std::vector<unsigned long long> times;
    std::vector<DWORD> qualities;
    std::vector<OwnedValue> values;
};

struct OwnedAttribute
{
    OPCHANDLE hClient = 0;
    DWORD id = 0;
    DWORD count = 0;
    bool hasTimes = false, hasValues = false;
    std::vector<unsigned long long> times;
    std::vector<OwnedValue> values;
};

// A string of an annotation string array: null or a text.
struct OwnedText
{
    bool null = true;
    std::wstring text;
};

struct OwnedAnnotation
{
    OPCHANDLE hClient = 0;
    DWORD count = 0;
    bool hasTimes = false, hasTexts = false, hasAnnotationTimes = false, hasUsers = false;
    std::vector<unsigned long long> times, annotationTimes;
    std::vector<OwnedText> texts, users;
};

OwnedValue CopyValue(const VARIANT &value);
OwnedAnnotation CopyAnnotation(const OPCHDA_ANNOTATION &annotation);
OwnedItem CopyItem(const OPCHDA_ITEM &item);
OwnedAttribute CopyAttribute(const OPCHDA_ATTRIBUTE &attribute);

// Frees what a client receives: the arrays inside and the array itself.
void FreeItems(OPCHDA_ITEM *items, DWORD count);
void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count);
void FreeModifiedItems(OPCHDA_MODIFIEDITEM *items, DWORD count);
void FreeStrings(LPWSTR *strings, DWORD count);
void FreeAnnotations(OPCHDA_ANNOTATION *annotations, DWORD count);

// An OPCHDA_TIME whose text lives in task memory: the stub may write the
// returned text into it, so it is neither a literal nor freed by anyone else.
class Time
{
public:
    Time(bool isString, const wchar_t *text, FILETIME time = {});
    ~Time() { CoTaskMemFree(value.szTime); }
    Time(const Time &) = delete;
    Time &operator=(const Time &) = delete;
    OPCHDA_TIME value{};
};

// Everything IOPCHDA_Server::GetHistorianStatus returns, freed on destruction.
struct HistorianStatus
{
    explicit HistorianStatus(IOPCHDA_Server *server);
    ~HistorianStatus();
    HistorianStatus(const HistorianStatus &) = delete;
    HistorianStatus &operator=(const HistorianStatus &) = delete;

    HRESULT hr = E_FAIL;
    OPCHDA_SERVERSTATUS status = OPCHDA_INDETERMINATE;
    FILETIME *now = nullptr;
    FILETIME *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD maxValues = 0;
    LPWSTR text = nullptr;
    LPWSTR vendor = nullptr;
};

// The canned results (GoogleTest expectations).
void ExpectDoubleItem(const OwnedItem &item);
void ExpectTextItem(const OwnedItem &item);
void ExpectDescriptionAttribute(const OwnedAttribute &attribute);
void ExpectMaximumAttribute(const OwnedAttribute &attribute);
// kAnnotations[index] with client handle kClientHandles[index].
void ExpectAnnotation(const OwnedAnnotation &annotation, DWORD index);

}  // namespace xclient
