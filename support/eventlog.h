// Events in the Windows Application log, which Event Viewer and monitoring
// tools render from the message table compiled into the exe
// (app/messages.mc; the IDs come from the generated messages.h).
#pragma once

#include <windows.h>

#include <initializer_list>

#include "messages.h"

// Turns the reports on under the event source `source`. Only the service
// does, before its run: a foreground run's console shows everything
// already. When the source cannot be opened the reports stay off and the
// run goes on.
void EnableEventReports(const wchar_t* source);

// Reports one event with its facts as the insertion strings %1, %2..., each
// '%' in them shown as U+FF05 (LiteralEventText) so nothing in a fact is
// expanded; its
// type (error, warning, information) is the ID's severity. Does nothing
// while the reports are off. Keeps the caller's last-error code.
void ReportServiceEvent(DWORD eventId, std::initializer_list<const wchar_t*> inserts);
