/* The reference server of the OPC UA benchmark: a plain open62541 server whose
 * history is open62541's own default database (UA_HistoryDatabase_default
 * with the default gathering and the in-memory backend), holding N values of
 * one Double variable, one per second, the last at the whole second of the
 * server's start. The historian's endpoint is measured against it with the
 * same client and the same read.
 *
 *   ua_reference_server.exe --url opc.tcp://127.0.0.1:PORT [--values N]
 *                           [--stop-event NAME]
 *
 * It serves until Ctrl+C or until the named event NAME is set (default
 * "ZqUaReferenceServer.Stop"; tests/ua's set_event.exe sets one), and prints
 * "listening on URL" once its socket is open. */
#include <windows.h>

#include <open62541.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define NODE_ID "Plant.Area1.Boiler.Temperature"
#define DEFAULT_STOP_EVENT "ZqUaReferenceServer.Stop"
#define MAX_VALUES 10000000ul

static volatile LONG g_interrupted;

static BOOL WINAPI OnConsoleControl(DWORD type)
{
    (void)type;
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

static int Usage(void)
{
    fprintf(stderr,
            "usage: ua_reference_server --url opc.tcp://127.0.0.1:PORT [--values N] [--stop-event NAME]\n");
    return 2;
}

/* port of opc.tcp://host:port[/path], 0 when the URL has none */
static unsigned PortOf(const char *url)
{
    const char *scheme = "opc.tcp://";
    if (strncmp(url, scheme, strlen(scheme)) != 0)
        return 0;
    const char *colon = strrchr(url + strlen(scheme), ':');
    if (colon == NULL)
        return 0;
    char *end = NULL;
    unsigned long port = strtoul(colon + 1, &end, 10);
    if (end == colon + 1 || (*end != '\0' && *end != '/') || port == 0 || port > 65535)
        return 0;
    return (unsigned)port;
}

/* The variable, historizing and readable in history. */
static UA_StatusCode AddVariable(UA_Server *server, const UA_NodeId *id, double value)
{
    UA_VariableAttributes attr = UA_VariableAttributes_default;
    attr.displayName = UA_LOCALIZEDTEXT("en-US", "Boiler outlet temperature");
    attr.dataType = UA_TYPES[UA_TYPES_DOUBLE].typeId;
    attr.valueRank = UA_VALUERANK_SCALAR;
    attr.accessLevel = UA_ACCESSLEVELMASK_READ | UA_ACCESSLEVELMASK_HISTORYREAD;
    attr.userAccessLevel = attr.accessLevel;
    attr.historizing = true;
    UA_Variant_setScalar(&attr.value, &value, &UA_TYPES[UA_TYPES_DOUBLE]);
    return UA_Server_addVariableNode(server, *id, UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER),
                                     UA_NODEID_NUMERIC(0, UA_NS0ID_ORGANIZES),
                                     UA_QUALIFIEDNAME(1, "Temperature"),
                                     UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), attr,
                                     NULL, NULL);
}

static double ValueAt(size_t i)
{
    return 180.0 + 15.0 * sin((double)i * 2.0 * 3.14159265358979 / 3600.0);
}

/* N values, one a second, the last at the whole second `last`, straight into
 * the backend (the strategy is USER: nothing else writes to it). */
static UA_StatusCode Fill(UA_Server *server, UA_HistoryDataBackend *backend,
                          const UA_NodeId *id, size_t count, UA_DateTime last)
{
    for (size_t i = 0; i < count; ++i) {
        double v = ValueAt(i);
        UA_DataValue dv;
        UA_DataValue_init(&dv);
        UA_Variant_setScalar(&dv.value, &v, &UA_TYPES[UA_TYPES_DOUBLE]);
        dv.hasValue = true;
        dv.sourceTimestamp = last - (UA_DateTime)(count - 1 - i) * UA_DATETIME_SEC;
        dv.hasSourceTimestamp = true;
        dv.serverTimestamp = dv.sourceTimestamp;
        dv.hasServerTimestamp = true;
        UA_StatusCode rc = backend->serverSetHistoryData(server, backend->context, NULL, NULL,
                                                         id, true, &dv);
        if (rc != UA_STATUSCODE_GOOD)
            return rc;
    }
    return UA_STATUSCODE_GOOD;
}

static int Serve(const char *url, size_t count, const char *stopName)
{
    HANDLE stop = CreateEventA(NULL, TRUE, FALSE, stopName);
    if (stop == NULL) {
        fprintf(stderr, "cannot create the stop event %s\n", stopName);
        return 1;
    }
    ResetEvent(stop); /* a signal left from an earlier run */
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    UA_ServerConfig config;
    memset(&config, 0, sizeof config);
    config.logging = UA_Log_Stdout_new(UA_LOGLEVEL_WARNING);
    UA_StatusCode rc = UA_ServerConfig_setMinimal(&config, (UA_UInt16)PortOf(url), NULL);
    /* Listen on the URL's host only (loopback), not on every interface. */
    if (rc == UA_STATUSCODE_GOOD) {
        UA_Array_delete(config.serverUrls, config.serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
        config.serverUrls = NULL;
        config.serverUrlsSize = 0;
        UA_String u = UA_STRING((char *)url);
        rc = UA_Array_copy(&u, 1, (void **)&config.serverUrls, &UA_TYPES[UA_TYPES_STRING]);
        if (rc == UA_STATUSCODE_GOOD)
            config.serverUrlsSize = 1;
    }
    if (rc != UA_STATUSCODE_GOOD) {
        fprintf(stderr, "server configuration failed: %s\n", UA_StatusCode_name(rc));
        UA_ServerConfig_clean(&config);
        CloseHandle(stop);
        return 1;
    }

    UA_HistoryDataGathering gathering = UA_HistoryDataGathering_Default(1);
    config.historyDatabase = UA_HistoryDatabase_default(gathering);
    config.accessHistoryDataCapability = true;

    UA_Server *server = UA_Server_newWithConfig(&config);
    if (server == NULL) {
        fprintf(stderr, "cannot create the server\n");
        CloseHandle(stop);
        return 1;
    }

    int exitCode = 1;
    UA_NodeId id = UA_NODEID_STRING(1, NODE_ID);
    UA_HistorizingNodeIdSettings setting;
    memset(&setting, 0, sizeof setting);
    setting.historizingBackend = UA_HistoryDataBackend_Memory(1, count);
    /* The client's numValuesPerNode decides how much one reply carries. */
    setting.maxHistoryDataResponseSize = count;
    setting.historizingUpdateStrategy = UA_HISTORIZINGUPDATESTRATEGY_USER;
    const UA_DateTime last = UA_DateTime_now() / UA_DATETIME_SEC * UA_DATETIME_SEC;
    rc = AddVariable(server, &id, ValueAt(count - 1));
    if (rc == UA_STATUSCODE_GOOD)
        rc = gathering.registerNodeId(server, gathering.context, &id, setting);
    if (rc == UA_STATUSCODE_GOOD)
        rc = Fill(server, &setting.historizingBackend, &id, count, last);
    if (rc != UA_STATUSCODE_GOOD) {
        fprintf(stderr, "cannot set up the history of %s: %s\n", NODE_ID, UA_StatusCode_name(rc));
        goto done;
    }
    rc = UA_Server_run_startup(server);
    if (rc != UA_STATUSCODE_GOOD) {
        fprintf(stderr, "cannot listen on %s: %s\n", url, UA_StatusCode_name(rc));
        goto done;
    }
    printf("%lu values of ns=1;s=%s; listening on %s; stop with Ctrl+C or the event \"%s\"\n",
           (unsigned long)count, NODE_ID, url, stopName);
    fflush(stdout);
    while (!g_interrupted && WaitForSingleObject(stop, 0) != WAIT_OBJECT_0)
        UA_Server_run_iterate(server, true);
    UA_Server_run_shutdown(server);
    printf("stopped\n");
    exitCode = 0;
done:
    /* The database forgets the node's settings; the backend is ours to free. */
    UA_Server_delete(server);
    UA_HistoryDataBackend_Memory_clear(&setting.historizingBackend);
    CloseHandle(stop);
    return exitCode;
}

int main(int argc, char **argv)
{
    const char *url = NULL, *stopName = DEFAULT_STOP_EVENT;
    unsigned long count = 100000;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char *v = argv[++i];
        if (strcmp(a, "--url") == 0) {
            url = v;
        } else if (strcmp(a, "--values") == 0) {
            char *end = NULL;
            count = strtoul(v, &end, 10);
            if (*v == '\0' || *end != '\0' || count == 0 || count > MAX_VALUES) {
                fprintf(stderr, "--values is a number from 1 to %lu\n", MAX_VALUES);
                return 2;
            }
        } else if (strcmp(a, "--stop-event") == 0 && *v != '\0') {
            stopName = v;
        } else {
            return Usage();
        }
    }
    if (url == NULL || PortOf(url) == 0) {
        fprintf(stderr, "--url opc.tcp://HOST:PORT is required\n");
        return 2;
    }
    return Serve(url, (size_t)count, stopName);
}
