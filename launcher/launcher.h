// The launcher core: installation context and command dispatch, Java
// runtime discovery, and the run that starts and waits for the server.
#pragma once

#include <windows.h>

#include <cstddef>

#include "launcher/command_line.h"

constexpr size_t kPathChars = MAX_PATH;

// Filled by the entry point before any second thread exists, then read only.
extern wchar_t g_installDir[kPathChars];
extern wchar_t g_configFile[kPathChars];
// Written by FindJavaRuntime alone, on the thread that runs the launcher.
extern wchar_t g_javaExecutable[kPathChars];

constexpr wchar_t kRegistryKey[] = L"Software\\Orvane\\WebUI";
constexpr wchar_t kHomeVariable[] = L"OVWEBUI_HOME";

// Exit status of a launcher run.
enum RunStatus : int {
    kRunServerEnded = 0,
    kRunNoJava = 1,
    kRunCreateFailed = 2,
};
constexpr int kExitInvalidOption = 3;

// The whole entry point: context, then dispatch on argv[1].
int LauncherMain(int argc, wchar_t** argv);
// Fills g_installDir and g_configFile and publishes OVWEBUI_HOME.
void InitInstallContext();

bool FindJavaRuntime();

// Where the warnings of WarnOfWritableInstallFolders go: standard output
// (install) or the log (each run).
enum class FolderWarnings { kConsole, kLog };
// The service runs and reads, as LocalSystem, what lies in the install
// folder, its jre, jre\bin, etc, jetty-home and jetty-base, and the
// configuration file's folder. Warns of each of those folders in which
// ordinary users may create or change files, and returns how many there
// were. Changes no permission itself.
int WarnOfWritableInstallFolders(FolderWarnings where);
int RunLauncher();
// Creates the server process from `commandLine` (modifiable) and returns
// once it has ended. False when it could not be created; true, without a
// server, when a stop came first.
bool ExecuteServerProcess(wchar_t* commandLine);

// The server process as the stop path sees it. The launcher run registers
// the process here and withdraws it before closing its handle; the stop
// path takes its own duplicate, so a termination can only ever reach the
// process this run started.
//
// RequestServerStop marks the run as stopping and returns a duplicate of
// the server handle (null when no server runs). Once a stop is requested
// no server is created any more.
HANDLE RequestServerStop();
// The stop path is done (its stop command has ended or been given up on).
// Until then the run keeps its log open after the server's end, so the stop
// command's last output (Jetty's confirmation) still reaches the log.
void ServerStopFinished();
// How long the run waits for that after the server has ended.
constexpr DWORD kStopFinishWaitMs = 40000;
