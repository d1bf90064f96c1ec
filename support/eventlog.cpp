#include "support/eventlog.h"

#include <string>
#include <vector>

#include "support/handles.h"
#include "support/text.h"

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
    // Each string as it is: a '%' in it would make Event Viewer expand it.
    std::vector<std::wstring> literal;
    literal.reserve(inserts.size());
    for (const wchar_t* insert : inserts)
        literal.push_back(LiteralEventText(insert));
    std::vector<const wchar_t*> strings;
    strings.reserve(literal.size());
    for (const std::wstring& text : literal)
        strings.push_back(text.c_str());
    ReportEventW(g_eventSource.get(), EventType(eventId), 0, eventId, nullptr, static_cast<WORD>(strings.size()), 0,
                 strings.data(), nullptr);
    SetLastError(saved);
}
