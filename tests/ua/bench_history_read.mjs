// The OPC UA benchmark's client: a raw HistoryRead of one node over a time
// range, following continuation points until the server returns none, timed
// over several repetitions. Given several servers, it holds a session to each
// and their reads alternate (the first of each repetition in turn), so that
// load from other processes hits them alike.
//
//   node bench_history_read.mjs URL [--start TIME] [--end TIME] [URL ...] [options]
//     --node ID         node to read (default ns=1;s=Plant.Area1.Boiler.Temperature)
//                       (the session is the endpoint tests' own, ua_session.mjs)
//     --expect N        values every read must return (default 100000)
//     --per-read P      numValuesPerNode of each request (default 10000)
//     --start TIME      start of the range of the URL before it: ISO 8601, or
//                       now-<seconds>s (default now-(N+100)s, taken anew for
//                       every read)
//     --end TIME        end of that range, likewise (default now)
//     --repeat R        timed reads (default 3), after --warmup W untimed ones (1)
//     --timeout S       seconds for any one network wait (default 60); the whole
//                       run is given up after 10 times that
//
// Prints one line per URL, in the order given:
//   url=URL values=N requests=K repetitions=R best_seconds=.. median_seconds=..
//   values_per_second=.. best_values_per_second=..
// (values_per_second from the median). Exits 1 when a read returns another
// count than N, a bad status, or time stamps out of order or outside the
// range; 2 on a bad command line; 3 when the whole run timed out.
import { format } from "node:util";
import {
    HistoryData,
    HistoryReadRequest,
    ReadRawModifiedDetails,
    TimestampsToReturn,
    coerceNodeId,
} from "node-opcua-client";

import { NODE, openSession } from "./ua_session.mjs";

// node-opcua prints its notes with console.log: to stderr with them, so that
// standard output holds the result line alone.
console.log = console.info = console.warn = (...args) => process.stderr.write(format(...args) + "\n");

const USAGE = "usage: node bench_history_read.mjs opc.tcp://HOST:PORT [--start TIME] [--end TIME] [URL ...] " +
    "[--node ID] [--expect N] [--per-read P] [--repeat R] [--warmup W] [--timeout S]";

function fail(message, code = 1) {
    process.stderr.write(`bench_history_read: ${message}\n`);
    process.exit(code);
}

function parseArgs(argv) {
    const o = {
        targets: [], node: NODE, expect: 100000, perRead: 10000, repeat: 3, warmup: 1, timeout: 60,
    };
    const counts = { "--expect": "expect", "--per-read": "perRead", "--repeat": "repeat",
        "--warmup": "warmup", "--timeout": "timeout" };
    for (let i = 0; i < argv.length; ++i) {
        const a = argv[i];
        if (!a.startsWith("--")) {
            if (!a.startsWith("opc.tcp://")) fail(USAGE, 2);
            o.targets.push({ url: a, start: null, end: null });
            continue;
        }
        if (i + 1 >= argv.length) fail(`${a} needs a value`, 2);
        const v = argv[++i];
        if (a in counts) {
            const n = Number(v);
            const least = a === "--warmup" ? 0 : 1;
            if (!/^[0-9]+$/.test(v) || n < least || n > 0xFFFFFFFF) fail(`${a} is a whole number of at least ${least}`, 2);
            o[counts[a]] = n;
        } else if (a === "--node") {
            o.node = v;
        } else if (a === "--start" || a === "--end") {
            if (parseTime(v, Date.now()) === null) fail(`${a}: '${v}' is neither ISO 8601 nor now-<seconds>s`, 2);
            if (o.targets.length === 0) fail(`${a} follows the URL whose range it sets`, 2);
            o.targets[o.targets.length - 1][a.slice(2)] = v;
        } else {
            fail(`unknown option ${a}\n${USAGE}`, 2);
        }
    }
    if (o.targets.length === 0) fail(USAGE, 2);
    try {
        o.nodeId = coerceNodeId(o.node);
    } catch (e) {
        fail(`--node: ${e.message}`, 2);
    }
    return o;
}

// Milliseconds since 1970 (fractions kept), or null.
function parseTime(text, now) {
    const rel = /^now(?:-([0-9]+(?:\.[0-9]+)?)s)?$/i.exec(text);
    if (rel) return now - (rel[1] ? Number(rel[1]) * 1000 : 0);
    if (!/^\d{4}-\d\d-\d\dT/.test(text)) return null;
    const t = Date.parse(text);
    return Number.isNaN(t) ? null : t;
}

// A promise that fails after ms (its timer cleared when the work ends first).
async function within(ms, what, work) {
    let timer;
    const late = new Promise((_, reject) => {
        timer = setTimeout(() => reject(new Error(`${what}: no answer within ${ms / 1000} s`)), ms);
    });
    try {
        return await Promise.race([work, late]);
    } finally {
        clearTimeout(timer);
    }
}

// One whole read of the range; returns { values, requests }. Throws on any
// failure, after releasing a continuation point the server still holds.
async function readRange(session, o, target) {
    const now = Date.now();
    const startMs = target.start !== null ? parseTime(target.start, now) : now - (o.expect + 100) * 1000;
    const endMs = target.end !== null ? parseTime(target.end, now) : now;
    const details = new ReadRawModifiedDetails({
        isReadModified: false,
        startTime: new Date(startMs),
        endTime: new Date(endMs),
        numValuesPerNode: o.perRead,
        returnBounds: false,
    });
    // Date keeps milliseconds only: the range as the server receives it.
    const low = Math.min(details.startTime.getTime(), details.endTime.getTime());
    const high = Math.max(details.startTime.getTime(), details.endTime.getTime());
    const request = (continuationPoint, release) => new HistoryReadRequest({
        historyReadDetails: details,
        timestampsToReturn: TimestampsToReturn.Both,
        releaseContinuationPoints: release,
        nodesToRead: [{ nodeId: o.nodeId, continuationPoint }],
    });
    let continuationPoint = null;
    let values = 0, requests = 0, previous = -Infinity;
    try {
        do {
            const response = await within(o.timeout * 1000, "HistoryRead",
                session.historyRead(request(continuationPoint, false)));
            ++requests;
            continuationPoint = null;
            const results = response.results || [];
            if (results.length !== 1) throw new Error(`${results.length} results for one node`);
            const r = results[0];
            if (r.continuationPoint && r.continuationPoint.length > 0) continuationPoint = r.continuationPoint;
            if (!r.statusCode.isGood()) throw new Error(`HistoryRead status ${r.statusCode.toString()}`);
            if (!(r.historyData instanceof HistoryData)) throw new Error("the result holds no HistoryData");
            for (const dv of r.historyData.dataValues || []) {
                if (!dv.statusCode.isGood()) throw new Error(`value ${values} has status ${dv.statusCode.toString()}`);
                const t = dv.sourceTimestamp ? dv.sourceTimestamp.getTime() : NaN;
                if (!(t > previous) || t < low || t > high)
                    throw new Error(`value ${values}: time stamp ${dv.sourceTimestamp?.toISOString()} out of order or range`);
                previous = t;
                ++values;
            }
        } while (continuationPoint !== null);
    } catch (e) {
        if (continuationPoint !== null) {
            await within(o.timeout * 1000, "releasing the continuation point",
                session.historyRead(request(continuationPoint, true))).catch(() => {});
        }
        throw e;
    }
    return { values, requests };
}

function median(sorted) {
    const n = sorted.length;
    return n % 2 ? sorted[(n - 1) / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

async function main() {
    const o = parseArgs(process.argv.slice(2));
    const watchdog = setTimeout(() => fail(`gave up after ${o.timeout * 10} s`, 3), o.timeout * 10000);
    const sessions = [];
    let code = 0;
    try {
        for (const t of o.targets) {
            sessions.push(await within(o.timeout * 1000, `connect to ${t.url} and CreateSession`, openSession(t.url)));
            t.session = sessions[sessions.length - 1].session;
            t.seconds = [];
        }
        const read = async (t) => {
            const r = await readRange(t.session, o, t);
            if (r.values !== o.expect) throw new Error(`${t.url}: read ${r.values} values, expected ${o.expect}`);
            t.requests = r.requests;
        };
        for (let i = 0; i < o.warmup; ++i) for (const t of o.targets) await read(t);
        for (let i = 0; i < o.repeat; ++i) {
            const order = i % 2 ? [...o.targets].reverse() : o.targets;
            for (const t of order) {
                const t0 = process.hrtime.bigint();
                await read(t);
                t.seconds.push(Number(process.hrtime.bigint() - t0) / 1e9);
            }
        }
        for (const t of o.targets) {
            t.seconds.sort((a, b) => a - b);
            const mid = median(t.seconds), best = t.seconds[0];
            process.stdout.write(`url=${t.url} values=${o.expect} requests=${t.requests} repetitions=${o.repeat} ` +
                `best_seconds=${best.toFixed(4)} median_seconds=${mid.toFixed(4)} ` +
                `values_per_second=${Math.round(o.expect / mid)} ` +
                `best_values_per_second=${Math.round(o.expect / best)}\n`);
        }
    } catch (e) {
        process.stderr.write(`bench_history_read: ${e.message}\n`);
        code = 1;
    }
    for (const ua of sessions) {
        try {
            await within(o.timeout * 1000, "CloseSession and disconnect", ua.close());
        } catch (e) {
            process.stderr.write(`bench_history_read: ${e.message}\n`);
            code = code || 1;
        }
    }
    clearTimeout(watchdog);
    process.exit(code);
}

main();
