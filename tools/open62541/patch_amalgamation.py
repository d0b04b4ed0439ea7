#!/usr/bin/env python3
"""Adds DeleteAtTimeDetails to the HistoryUpdate service of an amalgamated
open62541 1.4 (open62541.h and open62541.c in one folder).

The stack's HistoryUpdate service hands UpdateDataDetails and
DeleteRawModifiedDetails to the history database and answers every other
kind BadNotSupported. The endpoint also serves DeleteAtTimeDetails, so the
history database gets one more function pointer, deleteAtTime, at the end
of its structure (nothing before it moves), and the service calls it as it
calls deleteRawModified. Applying the patch twice is refused; an anchor that
is missing (another release) fails loudly rather than building without it.
"""
import pathlib
import sys

MARK = "ZQ: deleteAtTime"

HEADER_ANCHOR = """    /* Add more function pointer here.
     * For example for read_event, read_annotation, update_details */
};"""
HEADER_NEW = """    /* """ + MARK + """ (added by the set-up of ZqHDAsvr): the
     * DeleteAtTimeDetails of a HistoryUpdate; NULL answers BadNotSupported. */
    void
    (*deleteAtTime)(UA_Server *server, void *hdbContext,
                    const UA_NodeId *sessionId, void *sessionContext,
                    const UA_RequestHeader *requestHeader,
                    const UA_DeleteAtTimeDetails *details,
                    UA_HistoryUpdateResult *result);

""" + HEADER_ANCHOR

SOURCE_ANCHOR = """                                  (UA_DeleteRawModifiedDetails*)updateDetailsData,
                                  &response->results[i]);
            continue;
        }

        response->results[i].statusCode = UA_STATUSCODE_BADNOTSUPPORTED;"""
SOURCE_NEW = """                                  (UA_DeleteRawModifiedDetails*)updateDetailsData,
                                  &response->results[i]);
            continue;
        }

        /* """ + MARK + """ */
        if(updateDetailsType == &UA_TYPES[UA_TYPES_DELETEATTIMEDETAILS]) {
            if(!server->config.historyDatabase.deleteAtTime) {
                response->results[i].statusCode = UA_STATUSCODE_BADNOTSUPPORTED;
                continue;
            }
            server->config.historyDatabase.
                deleteAtTime(server, server->config.historyDatabase.context,
                             &session->sessionId, session->sessionHandle,
                             &request->requestHeader,
                             (UA_DeleteAtTimeDetails*)updateDetailsData,
                             &response->results[i]);
            continue;
        }

        response->results[i].statusCode = UA_STATUSCODE_BADNOTSUPPORTED;"""


def patch(path: pathlib.Path, anchor: str, new: str) -> None:
    text = path.read_text(encoding="utf-8")
    if MARK in text:
        sys.exit(f"{path}: already patched")
    if text.count(anchor) != 1:
        sys.exit(f"{path}: the place to patch was not found exactly once (another release?)")
    path.write_text(text.replace(anchor, new), encoding="utf-8")


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit("usage: patch_amalgamation.py FOLDER")
    folder = pathlib.Path(sys.argv[1])
    patch(folder / "open62541.h", HEADER_ANCHOR, HEADER_NEW)
    patch(folder / "open62541.c", SOURCE_ANCHOR, SOURCE_NEW)


if __name__ == "__main__":
    main()
