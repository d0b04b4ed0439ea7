// The OPC UA endpoint of the sample historian, seen by node-opcua, an
// independent OPC UA client: the address space, every kind of history read
// compared value for value with the same read through zqhda.exe over DCOM,
// continuation points, updates with accepted and refused identities, and
// bad requests. run-endpoint-tests.sh starts the historian and sets
// ZQ_UA_URL, ZQ_WINE and ZQ_BIN.
import assert from "node:assert/strict";
import { after, before, describe, test } from "node:test";

import {
    AggregateConfiguration,
    DeleteAtTimeDetails,
    DeleteRawModifiedDetails,
    HistoryUpdateRequest,
    UpdateDataDetails,
} from "node-opcua-types";
import {
    AttributeIds,
    DataType,
    NodeClass,
    ReadAtTimeDetails,
    ReadProcessedDetails,
    StatusCodes,
    TimestampsToReturn,
    UserTokenType,
} from "node-opcua-client";

import { ITEM, NODE, fromUa, fromZqhda, historyRead, openSession, rawDetails, readAllPages, zqhda } from "./ua_session.mjs";

const url = process.env.ZQ_UA_URL;
const STEP_MS = 10000; // the historian's --step
const OPERATOR = { type: UserTokenType.UserName, userName: "operator", password: "secret" };

let anonymous;
let last; // ms of the item's latest value: the end of the generated plant

const at = (ms) => new Date(ms);
const iso = (ms) => new Date(ms).toISOString();
const near = (a, b) => (a === null || b === null ? a === b : Math.abs(a - b) <= 1e-9 * Math.max(1, Math.abs(a)));

function assertSameSeries(ua, dcom, what) {
    assert.equal(ua.length, dcom.length, `${what}: ${ua.length} values over UA, ${dcom.length} over DCOM`);
    for (let i = 0; i < ua.length; ++i) {
        assert.equal(ua[i].t, dcom[i].t, `${what}: time of value ${i}`);
        assert.ok(near(ua[i].v, dcom[i].v), `${what}: value ${i}: ${ua[i].v} over UA, ${dcom[i].v} over DCOM`);
        assert.equal(ua[i].good, dcom[i].good, `${what}: quality of value ${i}`);
    }
}

// One HistoryUpdate of one details record: its result.
function update(session, details) {
    const request = new HistoryUpdateRequest({ historyUpdateDetails: [details] });
    return new Promise((resolve, reject) =>
        session.performMessageTransaction(request, (e, r) => (e ? reject(e) : resolve(r.results[0]))));
}

before(async () => {
    anonymous = await openSession(url);
    const v = await anonymous.session.read({ nodeId: NODE, attributeId: AttributeIds.Value });
    last = v.sourceTimestamp.getTime();
});
after(async () => {
    await anonymous?.close();
});

describe("address space", { timeout: 120000 }, () => {
    test("the item tree is folders and historizing variables with the item's attributes", async () => {
        const s = anonymous.session;
        const top = await s.browse("ns=0;i=85");
        const plant = top.references.find((r) => r.nodeId.toString() === "ns=1;s=Plant");
        assert.ok(plant, "Plant below the Objects folder");
        assert.equal(plant.typeDefinition.toString(), "ns=0;i=61"); // FolderType
        const boiler = await s.browse("ns=1;s=Plant.Area1.Boiler");
        const temperature = boiler.references.find((r) => r.nodeId.toString() === NODE);
        assert.ok(temperature, "the item below its branch");
        assert.equal(temperature.nodeClass, NodeClass.Variable);
        assert.equal(temperature.browseName.toString(), "1:Temperature");

        const [historizing, access, userAccess, dataType, description] = await s.read(
            [AttributeIds.Historizing, AttributeIds.AccessLevel, AttributeIds.UserAccessLevel,
             AttributeIds.DataType, AttributeIds.Description].map((attributeId) => ({ nodeId: NODE, attributeId })));
        assert.equal(historizing.value.value, true);
        assert.equal(access.value.value & 0x0d, 0x0d, "CurrentRead, HistoryRead and HistoryWrite");
        assert.equal(userAccess.value.value & 0x0c, 0x04, "an anonymous session reads history and writes none");
        assert.equal(dataType.value.value.toString(), "ns=0;i=11"); // Double (VT_R8)

        const attributes = await zqhda(["read", "attributes", ITEM, "--attr", "2", "--attr", "3"]);
        const byId = Object.fromEntries(attributes.attributes.map((a) => [a.attribute_id, a.value]));
        assert.equal(description.value.value.text, byId[2]);
        const props = await s.browse(NODE);
        const eu = props.references.find((r) => r.referenceTypeId.toString() === "ns=0;i=46" && r.browseName.name === "EngineeringUnits");
        assert.ok(eu, "an EngineeringUnits property");
        const units = await s.read({ nodeId: eu.nodeId, attributeId: AttributeIds.Value });
        assert.equal(units.value.value.displayName.text, byId[3]);
    });

    test("the Value is the latest raw value", async () => {
        const v = await anonymous.session.read({ nodeId: NODE, attributeId: AttributeIds.Value });
        assert.equal(v.value.dataType, DataType.Double);
        const latest = await zqhda(["read", "raw", ITEM, "--start", "NOW", "--end", iso(last - 3600000), "--max", "1"]);
        assert.equal(latest.values.length, 1);
        assert.equal(v.sourceTimestamp.getTime(), fromZqhda(latest.values[0]).t);
        assert.ok(near(v.value.value, latest.values[0].value));
    });
});

describe("history reads agree with DCOM value for value", { timeout: 300000 }, () => {
    test("raw with bounds, forwards and backwards (a reversed range)", async () => {
        const start = last - 3600000 + 5000; // between two samples: a real start bound
        const end = last - 600000 + 5000;
        const dcom = (await zqhda(["read", "raw", ITEM, "--start", iso(start), "--end", iso(end), "--bounds", "--all"])).values.map(fromZqhda);
        const forward = (await readAllPages(anonymous.session, rawDetails(at(start), at(end), 0, true))).values.map(fromUa);
        assertSameSeries(forward, dcom, "forwards");
        assert.ok(forward[0].t < start && forward.at(-1).t > end, "both bounds");
        const dcomBack = (await zqhda(["read", "raw", ITEM, "--start", iso(end), "--end", iso(start), "--bounds", "--all"])).values.map(fromZqhda);
        const backward = (await readAllPages(anonymous.session, rawDetails(at(end), at(start), 0, true))).values.map(fromUa);
        assertSameSeries(backward, dcomBack, "backwards");
        assert.deepEqual(backward.map((x) => x.t), [...forward].reverse().map((x) => x.t));
    });

    test("continuation points page through more than 10,000 values, neither losing nor repeating any", async () => {
        const start = last - 150000 * 1000;
        const end = last - STEP_MS;
        const dcom = (await zqhda(["read", "raw", ITEM, "--start", iso(start), "--end", iso(end), "--all"])).values.map(fromZqhda);
        assert.equal(dcom.length, 15000);
        const paged = await readAllPages(anonymous.session, rawDetails(at(start), at(end), 1000));
        assert.equal(paged.pages, 15);
        assertSameSeries(paged.values.map(fromUa), dcom, "1,000 per page");
        const odd = await readAllPages(anonymous.session, rawDetails(at(start), at(end), 777, true));
        assert.equal(odd.values.length, 15000, "777 per page with bounds: both bounds are on the sample grid here");
        const backwards = await readAllPages(anonymous.session, rawDetails(at(end), at(start), 4096));
        assert.deepEqual(backwards.values.map((v) => v.sourceTimestamp.getTime()), dcom.map((x) => x.t).reverse());
        // Only a start and a count: forwards from the start.
        const counted = await readAllPages(anonymous.session, rawDetails(at(start), null, 12000));
        assert.equal(counted.values.length, 12000);
        assert.equal(counted.values[11999].sourceTimestamp.getTime(), dcom[11999].t);
    });

    test("releasing a continuation point ends the read", async () => {
        const details = rawDetails(at(last - 100000 * 1000), at(last), 100);
        const first = (await historyRead(anonymous.session, details, [NODE])).results[0];
        assert.ok(first.continuationPoint?.length > 0);
        const released = (await historyRead(anonymous.session, details, [{ nodeId: NODE, continuationPoint: first.continuationPoint }], { release: true })).results[0];
        assert.ok(released.statusCode.isGood());
        assert.equal(released.historyData?.dataValues?.length ?? 0, 0);
    });

    test("processed reads of several aggregates, the durations in milliseconds", async () => {
        const start = last - 6 * 3600000;
        const end = last - 3600000;
        const aggregates = [
            ["Average", 2342, 3], ["TimeAverage", 2343, 4], ["Minimum", 2346, 8], ["Maximum", 2347, 10],
            ["Count", 2352, 5], ["Total", 2344, 2], ["Start", 2357, 11], ["DurationGood", 2360, 19],
        ];
        const details = new ReadProcessedDetails({
            startTime: at(start), endTime: at(end), processingInterval: 30 * 60000,
            aggregateType: aggregates.map(([, ua]) => `ns=0;i=${ua}`),
            aggregateConfiguration: new AggregateConfiguration({ useServerCapabilitiesDefaults: true }),
        });
        const response = await historyRead(anonymous.session, details, aggregates.map(() => NODE));
        for (const [i, [name, , hda]] of aggregates.entries()) {
            const result = response.results[i];
            assert.ok(result.statusCode.isGood(), `${name}: ${result.statusCode.toString()}`);
            const ua = result.historyData.dataValues.map(fromUa);
            assert.equal(ua.length, 10, name);
            const dcom = (await zqhda(["read", "processed", ITEM, "--start", iso(start), "--end", iso(end),
                "--interval", "30M", "--aggregate", String(hda)])).values.map(fromZqhda);
            if (name === "DurationGood") for (const d of dcom) d.v *= 1000;
            assertSameSeries(ua, dcom, name);
        }
        // The request's own configuration counts: with PercentDataBad 0 every
        // interval is bad.
        const strict = new ReadProcessedDetails({
            startTime: at(start), endTime: at(end), processingInterval: 30 * 60000, aggregateType: ["ns=0;i=2342"],
            aggregateConfiguration: new AggregateConfiguration({ useServerCapabilitiesDefaults: false, percentDataBad: 0, percentDataGood: 0 }),
        });
        const judged = (await historyRead(anonymous.session, strict, [NODE])).results[0].historyData.dataValues;
        assert.equal(judged.length, 10);
        assert.ok(judged.every((v) => v.statusCode.value >>> 30 === 2), "Bad by the request's configuration");
    });

    test("at-time values, interpolated between samples, agree", async () => {
        const times = [last - 7200000, last - 7200000 + 3000, last - 1000, last + 3600000];
        const response = await historyRead(anonymous.session, new ReadAtTimeDetails({ reqTimes: times.map(at), useSimpleBounds: true }), [NODE]);
        const ua = response.results[0].historyData.dataValues.map(fromUa);
        const dcom = (await zqhda(["read", "attime", ITEM, ...times.flatMap((t) => ["--at", iso(t)])])).values.map(fromZqhda);
        assertSameSeries(ua, dcom, "at time");
        assert.equal(ua.length, 4);
    });
});

describe("updates", { timeout: 300000 }, () => {
    const t = () => last - 2000 * 1000 + 5000; // between two samples

    test("an anonymous session changes nothing", async () => {
        const result = await update(anonymous.session, new UpdateDataDetails({
            nodeId: NODE, performInsertReplace: 1,
            updateValues: [{ value: { dataType: DataType.Double, value: 1 }, sourceTimestamp: at(t()) }],
        }));
        assert.equal(result.statusCode.value, StatusCodes.BadUserAccessDenied.value);
        const dcom = await zqhda(["read", "attime", ITEM, "--at", iso(t())]);
        assert.notEqual(dcom.values[0].value, 1);
    });

    test("a refused password opens no session", async () => {
        await assert.rejects(openSession(url, { ...OPERATOR, password: "wrong" }), /BadUserAccessDenied|BadIdentityTokenRejected|denied/i);
    });

    test("an accepted user inserts, replaces and deletes; DCOM and the modified values see it", async () => {
        const op = await openSession(url, OPERATOR);
        try {
            const s = op.session;
            const write = (type, value, time = t()) => update(s, new UpdateDataDetails({
                nodeId: NODE, performInsertReplace: type,
                updateValues: [{ value: { dataType: DataType.Double, value }, sourceTimestamp: at(time) }],
            }));
            let r = await write(1, 1234.5);
            assert.equal(r.operationResults[0].value, StatusCodes.GoodEntryInserted.value);
            r = await write(1, 1.5);
            assert.equal(r.operationResults[0].value, StatusCodes.BadEntryExists.value, "a second insert at that time");
            let dcom = await zqhda(["read", "raw", ITEM, "--start", iso(t()), "--end", iso(t() + 1)]);
            assert.equal(dcom.values[0].value, 1234.5);
            r = await write(2, 2345.5);
            assert.equal(r.operationResults[0].value, StatusCodes.GoodEntryReplaced.value);
            const raw = await historyRead(s, rawDetails(at(t()), at(t() + 1)), [NODE]);
            assert.equal(raw.results[0].historyData.dataValues[0].value.value, 2345.5);

            const modified = await readAllPages(s, rawDetails(at(t()), at(t() + 1), 0, false, true));
            const dcomModified = await zqhda(["read", "modified", ITEM, "--start", iso(t()), "--end", iso(t() + 1)]);
            assert.equal(modified.values.length, dcomModified.modified.length);
            const replaced = modified.values.findIndex((v) => v.value.value === 1234.5);
            assert.ok(replaced >= 0, "the replaced value is among the modified values");
            assert.equal(modified.modifications[replaced].userName, "operator");
            assert.equal(modified.modifications[replaced].updateType, 2); // Replace

            const gone = await update(s, new DeleteAtTimeDetails({ nodeId: NODE, reqTimes: [at(t()), at(t() + 1)] }));
            assert.ok(gone.operationResults[0].isGood(), gone.operationResults[0].toString());
            assert.ok(gone.operationResults[1].isBad(), "nothing stored at the second time");
            dcom = await zqhda(["read", "raw", ITEM, "--start", iso(t()), "--end", iso(t() + 1)]);
            assert.equal(dcom.values.length, 0);

            const from = t() + 100000;
            const range = await update(s, new DeleteRawModifiedDetails({ nodeId: NODE, isDeleteModified: false, startTime: at(from), endTime: at(from + 30000) }));
            assert.ok(range.statusCode.isGood(), range.statusCode.toString());
            dcom = await zqhda(["read", "raw", ITEM, "--start", iso(from - 20000), "--end", iso(from + 50000)]);
            assert.deepEqual(dcom.values.map((v) => Date.parse(v.time) - from), [-15000, -5000, 35000, 45000]);
            const modifiedDelete = await update(s, new DeleteRawModifiedDetails({ nodeId: NODE, isDeleteModified: true, startTime: at(from), endTime: at(from + 1) }));
            assert.equal(modifiedDelete.statusCode.value, StatusCodes.BadHistoryOperationUnsupported.value);
        } finally {
            await op.close();
        }
    });
});

describe("bad requests are answered with their status and change nothing", { timeout: 120000 }, () => {
    const statusOf = async (details, node = NODE, options) => (await historyRead(anonymous.session, details, [node], options)).results[0].statusCode;

    test("unknown node, times missing, too many intervals, foreign continuation point, unknown aggregate", async () => {
        assert.equal((await statusOf(rawDetails(at(last - 60000), at(last)), "ns=1;s=Plant.NoSuchItem")).value, StatusCodes.BadNodeIdUnknown.value);
        assert.equal((await statusOf(rawDetails(at(last - 60000), null, 0))).value, StatusCodes.BadInvalidTimestampArgument.value);
        assert.equal((await statusOf(rawDetails(null, null, 10))).value, StatusCodes.BadInvalidTimestampArgument.value);
        const many = new ReadProcessedDetails({ startTime: at(last - 2000 * 1000), endTime: at(last), processingInterval: 1, aggregateType: ["ns=0;i=2342"] });
        assert.equal((await statusOf(many)).value, StatusCodes.BadTooManyOperations.value, "2,000,000 intervals: more than one reply holds");
        const forged = await statusOf(rawDetails(at(last - 60000), at(last), 5), { nodeId: NODE, continuationPoint: Buffer.from("not a continuation point") });
        assert.equal(forged.value, StatusCodes.BadContinuationPointInvalid.value);
        const unknown = new ReadProcessedDetails({ startTime: at(last - 3600000), endTime: at(last), processingInterval: 60000, aggregateType: ["ns=0;i=9999"] });
        assert.equal((await statusOf(unknown)).value, StatusCodes.BadAggregateNotSupported.value);
        const rejected = new ReadProcessedDetails({
            startTime: at(last - 3600000), endTime: at(last), processingInterval: 60000, aggregateType: ["ns=0;i=2342"],
            aggregateConfiguration: new AggregateConfiguration({ useServerCapabilitiesDefaults: false, percentDataGood: 150, percentDataBad: 100 }),
        });
        assert.equal((await statusOf(rejected)).value, StatusCodes.BadAggregateConfigurationRejected.value);
        const neither = await historyRead(anonymous.session, rawDetails(at(last - 60000), at(last)), [NODE], { timestamps: TimestampsToReturn.Neither })
            .then((r) => r.responseHeader.serviceResult, (e) => e);
        assert.match(String(neither), /BadTimestampsToReturnInvalid/);
    });
});
