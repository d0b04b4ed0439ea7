// The main job's OPC UA part: the boiler temperature read over OPC UA from
// the historian's endpoint (raw values of the last 5 minutes of its history
// and 10-minute averages of the last hour), printed, and the same reads
// through zqhda.exe over DCOM from the same process, compared value for
// value. Exit code 1 when they differ.
//   node main_job.mjs opc.tcp://127.0.0.1:PORT   (ZQ_WINE, ZQ_BIN as for the tests)
import { AggregateConfiguration } from "node-opcua-types";
import { AttributeIds, ReadProcessedDetails } from "node-opcua-client";

import { ITEM, NODE, fromUa, fromZqhda, historyRead, openSession, rawDetails, readAllPages, zqhda } from "./ua_session.mjs";

const url = process.argv[2];
const ua = await openSession(url);
let differences = 0;
try {
    const latest = await ua.session.read({ nodeId: NODE, attributeId: AttributeIds.Value });
    const last = latest.sourceTimestamp.getTime();
    console.log(`${NODE}: latest value ${latest.value.value} at ${latest.sourceTimestamp.toISOString()}`);
    const start = last - 5 * 60000;
    const raw = (await readAllPages(ua.session, rawDetails(new Date(start), new Date(last + 1)))).values.map(fromUa);
    const average = await historyRead(ua.session, new ReadProcessedDetails({
        startTime: new Date(last - 3600000), endTime: new Date(last), processingInterval: 600000,
        aggregateType: ["ns=0;i=2342"], aggregateConfiguration: new AggregateConfiguration({ useServerCapabilitiesDefaults: true }),
    }), [NODE]);
    const averages = average.results[0].historyData.dataValues.map(fromUa);

    const iso = (ms) => new Date(ms).toISOString();
    const dcomRaw = (await zqhda(["read", "raw", ITEM, "--start", iso(start), "--end", iso(last + 1), "--all"])).values.map(fromZqhda);
    const dcomAverages = (await zqhda(["read", "processed", ITEM, "--start", iso(last - 3600000), "--end", iso(last),
        "--interval", "10M", "--aggregate", "Average"])).values.map(fromZqhda);

    const compare = (what, a, b) => {
        console.log(`\n${what}: time, over OPC UA, over DCOM`);
        for (let i = 0; i < Math.max(a.length, b.length); ++i) {
            const same = a[i] && b[i] && a[i].t === b[i].t && a[i].v === b[i].v && a[i].good === b[i].good;
            if (!same) ++differences;
            console.log(`  ${a[i] ? iso(a[i].t) : "-"}  ${a[i]?.v ?? "-"}  ${b[i]?.v ?? "-"}${same ? "" : "  DIFFERENT"}`);
        }
    };
    compare("Raw values of the last 5 minutes", raw, dcomRaw);
    compare("Average over the last hour in 10-minute intervals", averages, dcomAverages);
    console.log(differences === 0
        ? `\nOPC UA and DCOM agree: ${raw.length} raw values and ${averages.length} averages, value for value`
        : `\nOPC UA and DCOM differ in ${differences} values`);
} finally {
    await ua.close();
}
process.exit(differences === 0 ? 0 : 1);
