#include "launcher/watch.h"

#include <climits>
#include <string>

#include "support/eventlog.h"
#include "support/log.h"
#include "support/text.h"

namespace {

constexpr wchar_t kHealthTag[] = L"health";

}  // namespace

ServerWait WatchServer(const RunWaits& waits, const HealthSettings& health, bool stopWhenNotAnswering,
                       WatchState& state, DWORD untilMs)
{
    const bool probing = health.enabled && health.intervalMs > 0;
    if (state.nextProbeAt == 0)
        state.nextProbeAt = GetTickCount64() + health.intervalMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        ULONGLONG wakeAt = untilMs == INFINITE ? ULLONG_MAX : waits.startedAt + untilMs;
        if (probing && state.nextProbeAt < wakeAt)
            wakeAt = state.nextProbeAt;
        const DWORD waitMs = wakeAt == ULLONG_MAX ? INFINITE : wakeAt <= now ? 0 : static_cast<DWORD>(wakeAt - now);
        const HANDLE handles[] = {waits.server, waits.stopEvent};
        const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0 + 1)
            return ServerWait::kStopRequested;
        if (woken != WAIT_TIMEOUT)
            return ServerWait::kEnded;
        if (untilMs != INFINITE && GetTickCount64() - waits.startedAt >= untilMs)
            return ServerWait::kTimedOut;
        if (!probing || GetTickCount64() < state.nextProbeAt)
            continue;
        int status = 0;
        const ProbeResult result = ProbeHealthAddress(health.address, waits.server, waits.stopEvent, health.timeoutMs,
                                                      health.timeoutMs, status);
        state.nextProbeAt = GetTickCount64() + health.intervalMs;
        if (result == ProbeResult::kServerEnded)
            return ServerWait::kEnded;
        if (result == ProbeResult::kStopRequested)
            return ServerWait::kStopRequested;
        if (result == ProbeResult::kAnswered) {
            if (state.failures > 0)
                ovlog_write_tag(kLogInformation, kHealthTag, L"%s answers again after %u failed checks",
                                health.address.text.c_str(), state.failures);
            state.failures = 0;
            state.answered = true;
            continue;
        }
        if (!state.answered || ++state.failures != health.failuresInRow)
            continue;
        const std::wstring reason = ProbeFailureText(result, health.timeoutMs);
        ovlog_write_tag(kLogWarning, kHealthTag, L"%s has not answered %u checks in a row (%s)",
                        health.address.text.c_str(), state.failures, reason.c_str());
        ReportServiceEvent(MSG_HEALTH_CHECK_FAILED,
                           {health.address.text.c_str(), DecimalText(state.failures).c_str(), reason.c_str()});
        if (stopWhenNotAnswering)
            return ServerWait::kNotAnswering;
    }
}
