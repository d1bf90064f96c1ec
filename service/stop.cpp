#include "launcher/launcher.h"
#include "service/service.h"

LoggingProcessExecutor::LoggingProcessExecutor(const wchar_t* commandLine) : ProcessExecutor(commandLine, false, false)
{
}

LoggingProcessExecutor::~LoggingProcessExecutor()
{
    finish();
}

void LoggingProcessExecutor::outputReceived(const char* chunk)
{
    ovlog_debug_tag(L"jetty", 5, L"%s", NarrowAsWide(chunk).c_str());
}

void StopServer()
{
    // From here on the run starts no server; and without one there is
    // nothing to ask to stop (g_javaExecutable may not even be final yet).
    UniqueKernelHandle server(RequestServerStop());
    if (!server) {
        ServerStopFinished();
        return;
    }

    StringBuffer commandLine;
    ComposeStopCommandLine(commandLine, g_javaExecutable, g_installDir);
    {
        LoggingProcessExecutor stopCommand(commandLine.getText());
        stopCommand.execute();
        stopCommand.waitForCompletion(kStopCommandWaitMs);
        // In every case: a server still shutting down does not finish on its own.
        TerminateProcess(server.get(), 0);
    }
    ServerStopFinished();
}
