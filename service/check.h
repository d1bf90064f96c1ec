// The dry run "check": what a run and the service would use and find,
// printed without creating anything (no log, no folder, no process, no
// service change).
#pragma once

// Its exit codes, its own rather than a run's.
constexpr int kCheckClean = 0;
constexpr int kCheckWarnings = 1;
constexpr int kCheckWouldFail = 2;

int CheckInstallation();
