// The Windows service ovWebUI: its identity and the exit code of a failed
// run, shared by the service host (host.h) and the commands (control.h).
#pragma once

#include <windows.h>

constexpr wchar_t kServiceName[] = L"ovWebUI";
constexpr wchar_t kServiceDisplayName[] = L"Orvane Web UI (Jetty)";
constexpr wchar_t kServiceDescription[] =
    L"This service provides web UI and API functionality for Orvane management server";

// Service-specific exit code of a service whose server ended on its own;
// the others are the run's own statuses (RunStatus).
constexpr DWORD kServiceExitServerEnded = 3;
