// The canned answers of the cross-process test server and the requests the
// client sends. Both processes compile this file, so every value the client
// asserts is the value the other process put on the wire.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "opccomn.h"
#include "opchda.h"

namespace xproc {

// {6459DFBE-BAB1-4BEF-A115-0F3168B4CF31}: the test server, reached as LocalServer32.
inline constexpr CLSID kServerClsid = {
    0x6459dfbe, 0xbab1, 0x4bef, {0xa1, 0x15, 0x0f, 0x31, 0x68, 0xb4, 0xcf, 0x31}};
// {C0F1E6B2-5D7A-4E3B-9A41-2B7E5C8D9F10}: the same server started with
// --unfixed, so that it marshals with widl's uncorrected proxy code.
inline constexpr CLSID kUnfixedServerClsid = {
    0xc0f1e6b2, 0x5d7a, 0x4e3b, {0x9a, 0x41, 0x2b, 0x7e, 0x5c, 0x8d, 0x9f, 0x10}};

inline constexpr wchar_t kServerExe[] = L"xproc_server.exe";
inline constexpr wchar_t kUnfixedOption[] = L"--unfixed";

// ---- IOPCHDA_Browser ----------------------------------------------------
// GetItemID(szNode) answers kItemIdPrefix + szNode.
inline constexpr wchar_t kItemIdPrefix[] = L"Plant.";
inline constexpr wchar_t kBranchPosition[] = L"Plant.Area 1";
// What IEnumString::Next hands out, in order (one non-Latin-1 character to
// show that 16-bit characters survive).
inline const wchar_t *const kEnumStrings[] = {L"Pump1", L"Pump2.Speed", L"Tank 3 Level",
                                              L"Temp \u00b0C", L"Valve \u20ac"};
inline constexpr ULONG kEnumCount = 5;

// ---- IOPCHDA_Server -----------------------------------------------------
struct AttributeInfo
{
    DWORD id;
    const wchar_t *name;
    const wchar_t *description;  // may be null: array elements are unique
    VARTYPE type;
};
inline const AttributeInfo kAttributes[] = {
    {OPCHDA_DATA_TYPE, L"Data Type", L"Data type of the item", VT_I2},
    {OPCHDA_DESCRIPTION, L"Description", nullptr, VT_BSTR},
    {0x80000001u, L"Vendor Limit", L"A vendor attribute", VT_R8},
};
inline constexpr DWORD kAttributeCount = 3;

struct AggregateInfo
{
    DWORD id;
    const wchar_t *name;
    const wchar_t *description;
};
inline const AggregateInfo kAggregates[] = {
    {OPCHDA_INTERPOLATIVE, L"Interpolative", L"Interpolated value"},
    {OPCHDA_AVERAGE, L"Average", L"Mean over the interval"},
    {0x80000002u, L"Median", L""},
};
inline constexpr DWORD kAggregateCount = 3;

inline constexpr FILETIME kCurrentTime = {0x89abcdefu, 0x01d9a5b4u};
inline constexpr WORD kMajorVersion = 2;
inline constexpr WORD kMinorVersion = 3;
inline constexpr WORD kBuildNumber = 456;
inline constexpr DWORD kMaxReturnValues = 1000;
inline constexpr wchar_t kStatusString[] = L"Running";
inline constexpr wchar_t kVendorInfo[] = L"ZqHDAsvr cross-process test server";

// Items the server knows; item i gets server handle kFirstHandle + i and is
// read back with client handle kClientHandles[i].
inline const wchar_t *const kKnownItems[] = {L"Plant.Pump1", L"Plant.Tank 3 Level"};
inline constexpr OPCHANDLE kFirstHandle = 0x1000;
inline constexpr OPCHANDLE kClientHandles[] = {11, 22};
inline constexpr DWORD kKnownItemCount = 2;

// CreateBrowse answers each filter it receives intact with a success code that
// carries the attribute ID and the operator it saw, and E_INVALIDARG when the
// filter value differs from kFilterValues.
inline HRESULT FilterEcho(DWORD attrId, OPCHDA_OPERATORCODES op)
{
    return static_cast<HRESULT>(0x00040000u | ((attrId & 0xFFu) << 8) | (static_cast<DWORD>(op) & 0xFFu));
}
inline constexpr DWORD kFilterAttrIds[] = {OPCHDA_DATA_TYPE, OPCHDA_DESCRIPTION};
inline constexpr OPCHDA_OPERATORCODES kFilterOperators[] = {OPCHDA_EQUAL, OPCHDA_NOTEQUAL};
inline constexpr SHORT kFilterDataType = VT_R8;
inline constexpr wchar_t kFilterDescription[] = L"pump*";

// ---- IOPCCommon ---------------------------------------------------------
inline constexpr HRESULT kKnownError = OPC_E_INVALIDHANDLE;
inline constexpr wchar_t kKnownErrorText[] = L"The handle is not valid.";
inline constexpr LCID kLocales[] = {0x0409, 0x0407, 0x0800};
inline constexpr DWORD kLocaleCount = 3;
// SetClientName with these texts makes the server call the client's sinks
// from a worker thread.
inline constexpr wchar_t kFireShutdown[] = L"fire ShutdownRequest";
inline constexpr wchar_t kFireDataCallback[] = L"fire DataCallback";
inline constexpr wchar_t kShutdownReason[] = L"Test server going down";

// ---- IOPCHDA_SyncRead ---------------------------------------------------
// The relative start time the client sends and the time the server resolves
// it to (written back into the in/out OPCHDA_TIME).
inline constexpr wchar_t kStartTimeText[] = L"NOW-1H";
inline constexpr FILETIME kResolvedStart = {0x11223344u, 0x01d9a000u};
inline constexpr FILETIME kEndTime = {0x55667788u, 0x01d9a001u};

inline constexpr FILETIME kRawTimes[] = {
    {1000u, 0x01d9a000u}, {2000u, 0x01d9a000u}, {3000u, 0x01d9a000u}};
inline constexpr double kRawDoubles[] = {1.5, -2.25, 1e300};
inline constexpr DWORD kRawDoubleQualities[] = {0x000400C0u, 0x00040040u, 0x000200C0u};
inline const wchar_t *const kRawTexts[] = {L"open", L"closed \u00fc"};
inline constexpr DWORD kRawTextQualities[] = {0x000400C0u, 0x00100000u};
inline constexpr OPCHANDLE kUnknownHandle = 0x7777;

// ReadModified: item 0 has two modified doubles with modification times, edit
// types and users (the second user null); item 1 one deleted text without the
// optional modification times and users.
inline constexpr FILETIME kModificationTimes[] = {{5000u, 0x01d9a100u}, {6000u, 0x01d9a100u}};
inline constexpr OPCHDA_EDITTYPE kEditTypes[] = {OPCHDA_INSERT, OPCHDA_REPLACE};
inline const wchar_t *const kEditUsers[] = {L"operator 1", nullptr};
inline constexpr OPCHDA_EDITTYPE kDeletedEditType = OPCHDA_DELETE;

// ReadAttribute of item 0: OPCHDA_DESCRIPTION (one value), OPCHDA_NORMAL_MAXIMUM
// (two values) and an unknown attribute.
inline constexpr wchar_t kAttrDescription[] = L"Feed pump 1";
inline constexpr double kAttrMaximums[] = {100.0, 120.5};
inline constexpr DWORD kUnknownAttribute = 0x99;

// ---- IOPCHDA_SyncAnnotations / IOPCHDA_AsyncAnnotations ------------------
// One annotation: its time stamp, text, annotation time and user; the texts
// and users may be null (unique elements of the string arrays).
struct AnnotationValue
{
    FILETIME time;
    const wchar_t *text;
    FILETIME annotationTime;
    const wchar_t *user;
};
inline const AnnotationValue kPumpAnnotations[] = {
    {{7000u, 0x01d9a200u}, L"Pump started", {7100u, 0x01d9a200u}, L"operator 1"},
    {{7200u, 0x01d9a200u}, nullptr, {7300u, 0x01d9a200u}, L""},
    {{7400u, 0x01d9a200u}, L"Druck \u00fcberschritten \u20ac", {7500u, 0x01d9a200u}, nullptr},
};
inline const AnnotationValue kTankAnnotations[] = {
    {{8000u, 0x01d9a200u}, L"", {8100u, 0x01d9a200u}, nullptr},
    {{8200u, 0x01d9a200u}, L"Level high", {8300u, 0x01d9a200u}, L"shift B"},
};
// The annotations of item i of kKnownItems (client handle kClientHandles[i]):
// what Read returns, what OnReadAnnotations delivers and what Insert expects
// (with kAnnotationInsertTimes[i] as the item's time stamp).
struct AnnotationSet
{
    const AnnotationValue *values;
    DWORD count;
};
inline const AnnotationSet kAnnotations[] = {{kPumpAnnotations, 3}, {kTankAnnotations, 2}};
inline constexpr FILETIME kAnnotationInsertTimes[] = {{9000u, 0x01d9a200u}, {9100u, 0x01d9a200u}};
// Insert's error for an item whose annotations did not arrive as sent.
inline constexpr HRESULT kAnnotationMismatch = E_INVALIDARG;
inline constexpr DWORD kAnnotationCancelId = 0x5151;

// ---- IOPCHDA_DataCallback (server -> client) -----------------------------
inline constexpr DWORD kReadCompleteTid = 101;
inline constexpr DWORD kUpdateCompleteTid = 102;
inline constexpr DWORD kAttributeCompleteTid = 103;
inline constexpr DWORD kDataChangeTid = 104;
inline constexpr HRESULT kUpdateErrors[] = {S_OK, OPC_E_DATAEXISTS};

}  // namespace xproc
