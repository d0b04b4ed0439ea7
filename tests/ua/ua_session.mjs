// What the OPC UA tests and the main job share: a node-opcua session to the
// historian's endpoint (with a certificate store of its own in a temporary
// folder, so nothing depends on the user's home), history reads that follow
// continuation points, and zqhda.exe run under Wine for the same reads over
// DCOM. Every network and process wait has a time-out.
import { execFile } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { OPCUACertificateManager } from "node-opcua-certificate-manager";
import {
    HistoryReadRequest,
    MessageSecurityMode,
    OPCUAClient,
    ReadRawModifiedDetails,
    SecurityPolicy,
    TimestampsToReturn,
} from "node-opcua-client";

export const ITEM = "Plant.Area1.Boiler.Temperature";
export const NODE = `ns=1;s=${ITEM}`;
const TIMEOUT_MS = 60000;

// Connects and opens a session (identity: undefined for anonymous, or
// { type: UserTokenType.UserName, userName, password }).
export async function openSession(url, identity) {
    const pki = mkdtempSync(join(tmpdir(), "zq-ua-pki-"));
    const client = OPCUAClient.create({
        applicationName: "ZqHDAsvr UA tests",
        applicationUri: "urn:zqhda:ua-tests",
        clientCertificateManager: new OPCUACertificateManager({ rootFolder: pki, automaticallyAcceptUnknownCertificate: true }),
        securityMode: MessageSecurityMode.None,
        securityPolicy: SecurityPolicy.None,
        endpointMustExist: false,
        connectionStrategy: { maxRetry: 3, initialDelay: 200, maxDelay: 2000 },
        defaultTransactionTimeout: TIMEOUT_MS,
        requestedSessionTimeout: TIMEOUT_MS,
    });
    try {
        await client.connect(url);
        const session = await client.createSession(identity);
        return {
            client,
            session,
            async close() {
                try { await session.close(); } finally {
                    await client.disconnect();
                    rmSync(pki, { recursive: true, force: true });
                }
            },
        };
    } catch (e) {
        await client.disconnect().catch(() => {});
        rmSync(pki, { recursive: true, force: true });
        throw e;
    }
}

// One HistoryRead (details: a ReadRawModifiedDetails, ReadProcessedDetails
// or ReadAtTimeDetails) of the nodes, with their continuation points.
export async function historyRead(session, details, nodes, options = {}) {
    const request = new HistoryReadRequest({
        historyReadDetails: details,
        nodesToRead: nodes.map((n) => (typeof n === "string" ? { nodeId: n } : n)),
        timestampsToReturn: options.timestamps ?? TimestampsToReturn.Source,
        releaseContinuationPoints: options.release ?? false,
    });
    return session.historyRead(request);
}

// A raw (or modified) read of one node followed to its end: every page's
// values in order, and how many pages it took.
export async function readAllPages(session, details) {
    const values = [];
    const modifications = [];
    let point = null;
    let pages = 0;
    do {
        const response = await historyRead(session, details, [{ nodeId: NODE, continuationPoint: point }]);
        const result = response.results[0];
        if (!result.statusCode.isGood()) throw new Error(`page ${pages}: ${result.statusCode.toString()}`);
        values.push(...(result.historyData?.dataValues ?? []));
        modifications.push(...(result.historyData?.modificationInfos ?? []));
        point = result.continuationPoint && result.continuationPoint.length > 0 ? result.continuationPoint : null;
        if (++pages > 100000) throw new Error("continuation points never end");
    } while (point);
    return { values, modifications, pages };
}

export function rawDetails(start, end, numValuesPerNode = 0, returnBounds = false, isReadModified = false) {
    return new ReadRawModifiedDetails({ startTime: start, endTime: end, numValuesPerNode, returnBounds, isReadModified });
}

// zqhda.exe under Wine, JSON output, against the historian over DCOM.
export function zqhda(args) {
    const wine = process.env.ZQ_WINE;
    const bin = process.env.ZQ_BIN;
    return new Promise((resolve, reject) => {
        execFile(wine, ["zqhda.exe", "--server", "ZqHDA.Historian.1", "--format", "json", "--quiet", ...args],
            { cwd: bin, timeout: 300000, maxBuffer: 512 * 1024 * 1024 }, (error, stdout, stderr) => {
                let parsed;
                try { parsed = JSON.parse(stdout); } catch {
                    reject(new Error(`zqhda ${args.join(" ")}: ${error?.message ?? ""} ${stderr}`));
                    return;
                }
                resolve(parsed);
            });
    });
}

// Milliseconds of an ISO text with up to 7 fractional digits.
export function msOf(iso) {
    return Date.parse(iso.replace(/(\.\d{3})\d*Z$/, "$1Z"));
}

// A UA data value and a zqhda row, as { t (ms), v (number or null), good }.
export function fromUa(dv) {
    // Good: the severity bits, whatever the info bits (limits, historian).
    return { t: dv.sourceTimestamp.getTime(), v: dv.value?.value ?? null, good: dv.statusCode.value >>> 30 === 0 };
}
export function fromZqhda(row) {
    const q = parseInt(row.quality, 16);
    return { t: msOf(row.time), v: row.value, good: (q & 0xc0) === 0xc0 };
}
