// The OPC UA endpoint's translations, without a network: qualities and
// result codes to status codes (and back for updates), values both ways,
// text, and the user rights by name.
#include <gtest/gtest.h>

#include "ZqHDAsvr.h"
#include "opchda.h"
#include "security/access.h"
#include "security/users.h"
#include "ua/ua_convert.h"
#include "ua/ua_session.h"

namespace {

using namespace zq;

struct QualityCase
{
    DWORD quality;
    UA_StatusCode status;
};

TEST(UaQuality, QualityWordsMapToSeverityLimitsAndHistorianBits)
{
    const QualityCase cases[] = {
        {0xC0, UA_STATUSCODE_GOOD},
        {0x000400C0, UA_STATUSCODE_GOOD},                         // Raw: no historian bit
        {0x000800C0, UA_STATUSCODE_GOOD | 0x400 | 0x1},           // Calculated
        {0x000200C1, UA_STATUSCODE_GOOD | 0x400 | 0x2 | 0x100},   // Interpolated, low limit
        {0x01000040, UA_STATUSCODE_UNCERTAIN | 0x400 | 0x4},      // Partial
        {0x000100C0, UA_STATUSCODE_GOOD | 0x400 | 0x10},          // Extra data: multiple values
        {0x58, UA_STATUSCODE_UNCERTAINSUBNORMAL},
        {0x5B, UA_STATUSCODE_UNCERTAINSUBNORMAL | 0x400 | 0x300}, // constant
        {0xD8, UA_STATUSCODE_GOODLOCALOVERRIDE},
        {0x18, UA_STATUSCODE_BADNOCOMMUNICATION},
        {0x00, UA_STATUSCODE_BAD},
        {OPCHDA_NODATA, UA_STATUSCODE_BADNODATA},
        {OPCHDA_NOBOUND, UA_STATUSCODE_BADBOUNDNOTFOUND},
        {OPCHDA_NODATA | 0xC0, UA_STATUSCODE_BADNODATA}, // no value is never good
    };
    for (const QualityCase &c : cases)
        EXPECT_EQ(UaStatusOfQuality(c.quality), c.status) << std::hex << c.quality;
    // An update's status gives back the DA quality it stands for.
    for (DWORD da : {0xC0u, 0xC1u, 0x58u, 0x5Bu, 0xD8u, 0x18u, 0x00u, 0x40u})
        EXPECT_EQ(QualityOfUaStatus(UaStatusOfQuality(da)), da) << std::hex << da;
}

TEST(UaQuality, ResultCodesMapToTheirStatus)
{
    EXPECT_EQ(UaStatusOfResult(S_OK), UA_STATUSCODE_GOOD);
    EXPECT_EQ(UaStatusOfResult(OPC_S_MOREDATA), UA_STATUSCODE_GOOD);
    EXPECT_EQ(UaStatusOfResult(OPC_S_NODATA), UA_STATUSCODE_GOODNODATA);
    EXPECT_EQ(UaStatusOfResult(OPC_S_INSERTED), UA_STATUSCODE_GOODENTRYINSERTED);
    EXPECT_EQ(UaStatusOfResult(OPC_S_REPLACED), UA_STATUSCODE_GOODENTRYREPLACED);
    EXPECT_EQ(UaStatusOfResult(OPC_E_INVALIDHANDLE), UA_STATUSCODE_BADNODEIDUNKNOWN);
    EXPECT_EQ(UaStatusOfResult(OPC_E_BADRIGHTS), UA_STATUSCODE_BADUSERACCESSDENIED);
    EXPECT_EQ(UaStatusOfResult(OPC_E_INVALIDAGGREGATE), UA_STATUSCODE_BADAGGREGATENOTSUPPORTED);
    EXPECT_EQ(UaStatusOfResult(OPC_E_MAXEXCEEDED), UA_STATUSCODE_BADTOOMANYOPERATIONS);
    EXPECT_EQ(UaStatusOfResult(OPC_E_DATAEXISTS), UA_STATUSCODE_BADENTRYEXISTS);
    EXPECT_EQ(UaStatusOfResult(OPC_E_NODATAEXISTS), UA_STATUSCODE_BADNOENTRYEXISTS);
    EXPECT_EQ(UaStatusOfResult(E_NOTIMPL), UA_STATUSCODE_BADHISTORYOPERATIONUNSUPPORTED);
    EXPECT_EQ(UaStatusOfResult(OPC_E_BADTYPE), UA_STATUSCODE_BADTYPEMISMATCH);
    EXPECT_EQ(UaStatusOfResult(E_FAIL), UA_STATUSCODE_BADINTERNALERROR);
    EXPECT_EQ(UaStatusOfResult(OPC_S_CURRENTVALUE), UA_STATUSCODE_GOOD);
}

// The same type and value (texts by content, numbers by their bits).
bool SameValue(const VARIANT &a, const VARIANT &b)
{
    if (a.vt != b.vt)
        return false;
    if (a.vt == VT_BSTR)
        return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) &&
               memcmp(a.bstrVal, b.bstrVal, SysStringByteLen(a.bstrVal)) == 0;
    const size_t size = a.vt == VT_I1 || a.vt == VT_UI1 ? 1
                        : a.vt == VT_I2 || a.vt == VT_UI2 || a.vt == VT_BOOL ? 2
                        : a.vt == VT_I4 || a.vt == VT_UI4 || a.vt == VT_R4 ? 4
                                                                           : 8;
    return memcmp(&a.llVal, &b.llVal, size) == 0;
}

// A VARIANT through UA and back is the same VARIANT.
void ExpectRoundTrip(VARIANT v)
{
    UA_Variant ua;
    ASSERT_EQ(UaValueOf(v, &ua), UA_STATUSCODE_GOOD) << v.vt;
    VARIANT back;
    EXPECT_EQ(VariantOfUa(ua, &back), UA_STATUSCODE_GOOD);
    UA_Variant_clear(&ua);
    EXPECT_TRUE(SameValue(v, back)) << v.vt;
    VariantClear(&back);
    VariantClear(&v);
}

TEST(UaValues, ScalarsAndTextsSurviveTheRoundTrip)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8, v.dblVal = -1234.5678;
    ExpectRoundTrip(v);
    v.vt = VT_R4, v.fltVal = 2.5f;
    ExpectRoundTrip(v);
    v.vt = VT_I4, v.lVal = -7;
    ExpectRoundTrip(v);
    v.vt = VT_UI4, v.ulVal = 0xFFFFFFFFu;
    ExpectRoundTrip(v);
    v.vt = VT_I2, v.iVal = -2;
    ExpectRoundTrip(v);
    v.vt = VT_UI1, v.bVal = 200;
    ExpectRoundTrip(v);
    v.vt = VT_I8, v.llVal = -(1ll << 40);
    ExpectRoundTrip(v);
    v.vt = VT_BOOL, v.boolVal = VARIANT_TRUE;
    ExpectRoundTrip(v);
    v.vt = VT_DATE, v.date = 46000.25;
    ExpectRoundTrip(v);
    v.vt = VT_BSTR, v.bstrVal = SysAllocString(L"\u00b0C \u6e29\u5ea6");
    ExpectRoundTrip(v);

    // The text travels as UTF-8.
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"\u00b0C");
    UA_Variant ua;
    ASSERT_EQ(UaValueOf(text, &ua), UA_STATUSCODE_GOOD);
    const UA_String *s = static_cast<const UA_String *>(ua.data);
    ASSERT_EQ(s->length, 3u);
    EXPECT_EQ(memcmp(s->data, "\xc2\xb0" "C", 3), 0);
    UA_Variant_clear(&ua);
    VariantClear(&text);
}

TEST(UaValues, WhatCannotBeCarriedIsATypeMismatch)
{
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_R8;
    array.parray = SafeArrayCreateVector(VT_R8, 0, 2);
    UA_Variant ua;
    EXPECT_EQ(UaValueOf(array, &ua), UA_STATUSCODE_BADTYPEMISMATCH);
    EXPECT_TRUE(UA_Variant_isEmpty(&ua));
    VariantClear(&array);

    UA_String broken;
    broken.length = 2;
    broken.data = reinterpret_cast<UA_Byte *>(const_cast<char *>("\xc3\x28"));
    UA_Variant_setScalar(&ua, &broken, &UA_TYPES[UA_TYPES_STRING]);
    VARIANT out;
    EXPECT_EQ(VariantOfUa(ua, &out), UA_STATUSCODE_BADTYPEMISMATCH);
    EXPECT_EQ(out.vt, VT_EMPTY);

    UA_Guid guid = UA_GUID_NULL;
    UA_Variant_setScalar(&ua, &guid, &UA_TYPES[UA_TYPES_GUID]);
    EXPECT_EQ(VariantOfUa(ua, &out), UA_STATUSCODE_BADTYPEMISMATCH);
}

TEST(UaText, NodesNameItemsByExactTextOnly)
{
    std::string id;
    UA_NodeId node = UA_NODEID_STRING(1, const_cast<char *>("Plant.Area1.Boiler.Temperature"));
    ASSERT_TRUE(ItemIdOfNode(node, &id));
    EXPECT_EQ(id, "Plant.Area1.Boiler.Temperature");
    EXPECT_FALSE(ItemIdOfNode(UA_NODEID_STRING(2, const_cast<char *>("Plant")), &id));
    EXPECT_FALSE(ItemIdOfNode(UA_NODEID_NUMERIC(1, 42), &id));
    EXPECT_FALSE(ItemIdOfNode(UA_NODEID_STRING(1, const_cast<char *>("")), &id));
    // An embedded NUL or broken UTF-8 names nothing (no shorter ID).
    UA_NodeId nul = node;
    nul.identifier.string.data = reinterpret_cast<UA_Byte *>(const_cast<char *>("Plant\0X"));
    nul.identifier.string.length = 7;
    EXPECT_FALSE(ItemIdOfNode(nul, &id));
    UA_NodeId broken = node;
    broken.identifier.string.data = reinterpret_cast<UA_Byte *>(const_cast<char *>("Pl\xff"));
    broken.identifier.string.length = 3;
    EXPECT_FALSE(ItemIdOfNode(broken, &id));
}

class UaRights : public testing::Test
{
protected:
    void SetUp() override { DeleteAllUsers(); }
    void TearDown() override
    {
        EnableHDASecurity(0, 0);
        DeleteAllUsers();
    }
    static HandleEntry Fill(const char *user, DWORD read, DWORD write)
    {
        HandleEntry e;
        FillForNamedUser(user, read, write, e);
        return e;
    }
};

TEST_F(UaRights, WithoutAccessControlAnonymousReadsAndUsersWrite)
{
    HandleEntry anonymous = Fill(nullptr, 0x00010000, 0x00020000);
    EXPECT_TRUE(anonymous.readAllowed);
    EXPECT_FALSE(anonymous.writeAllowed);
    EXPECT_EQ(anonymous.userName, "Unknown");
    HandleEntry user = Fill("operator", 0x00010000, 0x00020000);
    EXPECT_TRUE(user.readAllowed);
    EXPECT_TRUE(user.writeAllowed);
    EXPECT_EQ(user.userName, "operator");
}

TEST_F(UaRights, WithAccessControlTheRecordsNamingTheUserDecide)
{
    EnableHDASecurity(1, 0);
    // Not Windows accounts: the records still name them for UA users.
    DefineHDAUser("PLANT", "PLANT\\Operator", 0x3);
    DefineHDAUser("PLANT", "auditor", 0x1);
    const DWORD read = 0x00010000, write = 0x00020000;

    HandleEntry op = Fill("operator", read, write); // letter case aside, domain aside
    EXPECT_TRUE(op.readAllowed);
    EXPECT_TRUE(op.writeAllowed);
    HandleEntry auditor = Fill("auditor", read, write);
    EXPECT_TRUE(auditor.readAllowed);
    EXPECT_FALSE(auditor.writeAllowed);
    HandleEntry stranger = Fill("mallory", read, write);
    EXPECT_FALSE(stranger.readAllowed);
    EXPECT_FALSE(stranger.writeAllowed);
    // "PLANT\\Operator" is not "Operator2", nor is "Oper".
    EXPECT_FALSE(Fill("Oper", read, write).readAllowed);

    HandleEntry anonymous = Fill(nullptr, read, write);
    EXPECT_FALSE(anonymous.readAllowed);
    EXPECT_FALSE(anonymous.writeAllowed);
    // An item that requires no read right is read by anyone.
    EXPECT_TRUE(Fill(nullptr, 0, write).readAllowed);
}

} // namespace
