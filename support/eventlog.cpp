#include "support/eventlog.h"

#include "support/handles.h"

namespace {

// Set once, before the run that reports, and kept to the process's end.
UniqueEventSource g_eventSource;

// The two high bits of a message ID are its severity.
WORD EventType(DWORD eventId)
{
    switch (eventId >> 30) {
    case 3:
        return EVENTLOG_ERROR_TYPE;
    case 2:
        return EVENTLOG_WARNING_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

}  // namespace

void EnableEventReports(const wchar_t* source)
{
    g_eventSource.reset(RegisterEventSourceW(nullptr, source));
}

void ReportServiceEvent(DWORD eventId, std::initializer_list<const wchar_t*> inserts)
{
    if (!g_eventSource)
        return;
    const DWORD saved = GetLastError();
    // ReportEventW only reads the strings.
    ReportEventW(g_eventSource.get(), EventType(eventId), 0, eventId, nullptr, static_cast<WORD>(inserts.size()), 0,
                 const_cast<const wchar_t**>(inserts.begin()), nullptr);
    SetLastError(saved);
}
