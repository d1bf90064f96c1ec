#include "launcher/ready.h"

#include "launcher/command_line.h"
#include "launcher/health.h"
#include "support/handles.h"

namespace {

// The port is looked at again after a tenth of the time the server has had
// so far, within these bounds: the service manager hears that the server is
// up a few milliseconds after a quick start, and at most a tenth later
// after a slow one, for a few dozen connections in all.
constexpr DWORD kMinProbeIntervalMs = 1;
constexpr DWORD kMaxProbeIntervalMs = 100;
constexpr DWORD kProbeIntervalShare = 10;
constexpr DWORD kReadyProgressIntervalMs = 1000;

DWORD ProbeInterval(ULONGLONG ranMs)
{
    const ULONGLONG share = ranMs / kProbeIntervalShare;
    return static_cast<DWORD>(share < kMinProbeIntervalMs   ? kMinProbeIntervalMs
                              : share > kMaxProbeIntervalMs ? kMaxProbeIntervalMs
                                                            : share);
}

// Starts a connection to the stop port that signals `event` once it has
// either succeeded or failed. It never sends a byte: Jetty drops a
// connection that brings no key. Invalid when it could not even start.
UniqueSocket StartProbe(HANDLE event)
{
    UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!probe)
        return probe;
    // Non-blocking from here on: Windows retries a refused connection to a
    // local port for about a second, longer than a probe may take.
    WSAResetEvent(event);
    if (WSAEventSelect(probe.get(), event, FD_CONNECT) != 0)
        return UniqueSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(OV_STOP_PORT_NUMBER);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return UniqueSocket();
    return probe;
}

}  // namespace

ServerWait WaitForServerReady(const RunWaits& waits, DWORD untilMs)
{
    const ULONGLONG startedAt = waits.startedAt;
    UniqueKernelHandle connected(WSACreateEvent());
    const bool canProbe = WinsockStarted() && connected;
    ULONGLONG lastProgress = GetTickCount64();
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now - startedAt >= untilMs)
            return ServerWait::kTimedOut;
        if (now - lastProgress >= kReadyProgressIntervalMs) {
            lastProgress = now;
            if (waits.progress != nullptr)
                waits.progress();
        }
        const ULONGLONG cycleEnd = now + ProbeInterval(now - startedAt);
        UniqueSocket probe = canProbe ? StartProbe(connected.get()) : UniqueSocket();
        // A probe still pending at the end of its cycle is dropped: the next
        // one finds a port that has opened meanwhile at its first attempt.
        for (; now < cycleEnd && now - startedAt < untilMs; now = GetTickCount64()) {
            const HANDLE handles[] = {waits.server, waits.stopEvent, connected.get()};
            const DWORD count = probe ? 3 : 2;
            const DWORD woken = WaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(cycleEnd - now));
            if (woken == WAIT_OBJECT_0)
                return ServerWait::kEnded;
            if (woken == WAIT_OBJECT_0 + 1)
                return ServerWait::kStopRequested;
            if (woken != WAIT_OBJECT_0 + 2)
                break;
            WSANETWORKEVENTS events{};
            if (WSAEnumNetworkEvents(probe.get(), connected.get(), &events) == 0 &&
                (events.lNetworkEvents & FD_CONNECT) != 0 && events.iErrorCode[FD_CONNECT_BIT] == 0)
                return ServerWait::kReady;
            // Refused: nothing listens yet. Wait out the cycle.
            probe.reset();
        }
    }
}

ServerWait WaitForWebReady(const RunWaits& waits, const HealthAddress& address, DWORD answerMs, DWORD untilMs,
                           int& status)
{
    const ULONGLONG startedAt = waits.startedAt;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now - startedAt >= untilMs)
            return ServerWait::kTimedOut;
        const DWORD left = static_cast<DWORD>(untilMs - (now - startedAt));
        const DWORD cycleMs = ProbeInterval(now - startedAt);
        // A connection still pending at the cycle's end is dropped, as for
        // the stop port; a connected one gets the whole answer time, since
        // the first request to a web application can take a while.
        const ProbeResult result = ProbeHealthAddress(address, waits.server, waits.stopEvent, cycleMs < left ? cycleMs : left,
                                                      answerMs < left ? answerMs : left, status,
                                                      waits.progress);
        if (result == ProbeResult::kServerEnded)
            return ServerWait::kEnded;
        if (result == ProbeResult::kStopRequested)
            return ServerWait::kStopRequested;
        if (result == ProbeResult::kAnswered && (address.https || StatusShowsReady(status)))
            return ServerWait::kReady;
        if (waits.progress != nullptr)
            waits.progress();
        const ULONGLONG cycleEnd = now + cycleMs;
        now = GetTickCount64();
        if (now < cycleEnd) {
            const HANDLE handles[] = {waits.server, waits.stopEvent};
            const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(cycleEnd - now));
            if (woken == WAIT_OBJECT_0)
                return ServerWait::kEnded;
            if (woken == WAIT_OBJECT_0 + 1)
                return ServerWait::kStopRequested;
        }
    }
}
