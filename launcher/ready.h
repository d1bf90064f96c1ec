// Readiness, private to the run: Jetty opens its stop port as soon as it
// begins to start, then deploys the web application, then opens its HTTP
// connector; a JVM that cannot start never opens the port. So the server
// is up once the stop port answers and then, where there is one, the web
// UI's address.
#pragma once

#include <windows.h>

#include "launcher/health_address.h"

// How a wait of the run ended.
enum class ServerWait {
    kReady,
    kTimedOut,
    kEnded,
    kStopRequested,
    kNotAnswering,  // the web UI stopped answering its health check
};

// What every wait of the run watches: the server's end, the stop request,
// and the time the server has run, from `startedAt` (GetTickCount64).
// `progress`, when not null, is called about every second.
struct RunWaits {
    HANDLE server;
    HANDLE stopEvent;
    ULONGLONG startedAt;
    void (*progress)();
};

// Waits until something accepts a connection on 127.0.0.1 at the stop
// port, at most until the server has run `untilMs`.
ServerWait WaitForServerReady(const RunWaits& waits, DWORD untilMs);
// Then waits, in the same way, until `address` answers: an HTTP status
// below 500 in `status` (each probe may take `answerMs`), or for https a
// connection.
ServerWait WaitForWebReady(const RunWaits& waits, const HealthAddress& address, DWORD answerMs, DWORD untilMs,
                           int& status);
