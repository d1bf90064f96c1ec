// The server once it is up, private to the run: its web UI probed every
// interval, and a server that stops answering noticed.
#pragma once

#include "launcher/health.h"
#include "launcher/ready.h"

struct WatchState {
    // Failures count only once the address has answered, so a slow
    // deployment is never taken for a dead server.
    bool answered = false;
    unsigned failures = 0;
    ULONGLONG nextProbeAt = 0;  // 0: one interval from the first watch
};

// Waits for the server's end or a stop, at most until the server has run
// `untilMs` (kTimedOut), probing `health`'s address every interval. After
// its failures in a row it logs a WARNING and reports an event; with
// `stopWhenNotAnswering` the wait then ends with kNotAnswering.
ServerWait WatchServer(const RunWaits& waits, const HealthSettings& health, bool stopWhenNotAnswering,
                       WatchState& state, DWORD untilMs);
