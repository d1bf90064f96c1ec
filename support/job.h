// The launcher's job: the children of the launcher end with it.
#pragma once

#include <windows.h>

// The job that holds every child of the launcher. It ends them when the
// launcher's process ends, however it ends, and is never closed before.
// Null when it could not be made; LauncherJobError() then says why.
HANDLE LauncherJob();
DWORD LauncherJobError();
