// The launcher on a real Java runtime and a real Jetty (the demo kit in
// build/demo): served pages, Jetty's own stop, in the foreground and as the
// service. Java's first start under Wine is slow: the waits are generous.
#include <gtest/gtest.h>

#include <winsock2.h>

#include "tests/harness.h"

namespace {

constexpr DWORD kFirstPageWaitMs = 180000;
// Where the demo's Jetty serves its pages.
constexpr int kWebPort = 8080;

std::wstring DemoDir() { return TestBinDir() + L"\\demo"; }

// The status code of GET / on 127.0.0.1:kWebPort, or 0 when nothing answers.
int HttpStatus(std::string* body = nullptr)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kWebPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DWORD timeoutMs = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
    int status = 0;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        const char request[] = "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request, sizeof(request) - 1, 0);
        std::string response;
        char buffer[4096];
        int n;
        while ((n = recv(s, buffer, sizeof(buffer), 0)) > 0)
            response.append(buffer, static_cast<size_t>(n));
        if (response.rfind("HTTP/1.", 0) == 0 && response.size() > 12)
            status = atoi(response.c_str() + 9);
        if (body != nullptr)
            *body = response;
    }
    closesocket(s);
    return status;
}

// Milliseconds until the page answers 200, or -1.
long WaitForPage(DWORD timeoutMs)
{
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < timeoutMs) {
        if (HttpStatus() == 200)
            return static_cast<long>(GetTickCount64() - start);
        Sleep(200);
    }
    return -1;
}

class RealJetty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FileExists(DemoDir() + L"\\jre\\bin\\java.exe")) << "no demo kit: run `make demo-kit` first";
        ASSERT_TRUE(FileExists(DemoDir() + L"\\ovwebui.exe"));
        ResetProductKey();
        for (const int port : {kWebPort, kStopPort})
            ASSERT_TRUE(WaitForPortState(port, false, 60000)) << "port " << port << " is busy: another server holds it";
        DeleteFileW(log().c_str());
    }
    void TearDown() override
    {
        RunCommand(Quote(DemoDir() + L"\\ovwebui.exe") + L" remove");
    }
    std::wstring log() const { return DemoDir() + L"\\logs\\launcher.log"; }
    std::wstring stopCommand() const
    {
        StringBuffer line;
        ComposeStopCommandLine(line, (DemoDir() + L"\\jre\\bin\\java.exe").c_str(), DemoDir().c_str());
        return line.getText();
    }
};

}  // namespace

TEST_F(RealJetty, ForegroundServesAndEndsWithJettysOwnStop)
{
    OutputCollector launcher(Quote(DemoDir() + L"\\ovwebui.exe"));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(launcher.execute());
    const long pageMs = WaitForPage(kFirstPageWaitMs);
    ASSERT_GE(pageMs, 0) << "the page never came; launcher output:\n" << launcher.output;
    std::string body;
    EXPECT_EQ(HttpStatus(&body), 200);
    EXPECT_NE(body.find("Orvane Web UI"), std::string::npos);
    printf("[ measured ] foreground: start to HTTP 200 in %ld ms\n", pageMs);

    const ULONGLONG stopAt = GetTickCount64();
    const RunResult stop = RunCommand(stopCommand(), 60000);
    EXPECT_NE(stop.output.find("Server reports itself as Stopped"), std::string::npos) << stop.output;
    ASSERT_TRUE(launcher.waitForCompletion(60000));
    printf("[ measured ] foreground: stop command to launcher exit in %llu ms (whole run %llu ms)\n",
           GetTickCount64() - stopAt, GetTickCount64() - start);
    EXPECT_EQ(launcher.exitCode(), 0u);
    const std::vector<std::string> messages = ReadLogMessages(log());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "DEBUG5 shutdown: Server process terminated");
    EXPECT_TRUE(WaitForPortState(kWebPort, false, 10000));
    EXPECT_TRUE(WaitForNoProcessBelow(DemoDir(), 15000, L"java.exe"));
}

TEST_F(RealJetty, ServiceServesAndStopsGracefully)
{
    const std::wstring exe = Quote(DemoDir() + L"\\ovwebui.exe");
    RunCommand(exe + L" remove");
    ASSERT_EQ(RunCommand(exe + L" install").output, "Orvane Web UI service created successfully\n");
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(RunCommand(exe + L" start", kFirstPageWaitMs).output, "Orvane Web UI service started successfully\n");
    printf("[ measured ] service: start to RUNNING in %llu ms\n", GetTickCount64() - start);
    // Running means serving: the first request after start's success is answered.
    EXPECT_EQ(HttpStatus(), 200);

    UniqueServiceHandle service = OpenOurService(SERVICE_QUERY_STATUS);
    ASSERT_TRUE(service);
    const ULONGLONG stopAt = GetTickCount64();
    EXPECT_EQ(RunCommand(exe + L" stop").output, "Orvane Web UI service stopped successfully\n");
    EXPECT_TRUE(WaitForServiceState(service.get(), SERVICE_STOPPED, 60000, 20));
    SERVICE_STATUS status{};
    QueryServiceStatus(service.get(), &status);
    printf("[ measured ] service: stop request to stopped in %llu ms\n", GetTickCount64() - stopAt);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_TRUE(WaitForPortState(kWebPort, false, 10000));
    EXPECT_TRUE(WaitForNoProcessBelow(DemoDir(), 15000, L"java.exe")) << "a Java process is left";

    // Jetty confirmed the stop through the stop command, whose output is in the log.
    bool confirmed = false;
    for (const std::string& m : ReadLogMessages(log()))
        confirmed = confirmed || (m.rfind("DEBUG5 jetty: ", 0) == 0 &&
                                  m.find("Server reports itself as Stopped") != std::string::npos);
    EXPECT_TRUE(confirmed) << ReadTextFile(log());
    EXPECT_EQ(ReadLogMessages(log()).back(), "DEBUG5 shutdown: Server process terminated");
    service.reset();
    EXPECT_EQ(RunCommand(exe + L" remove").output, "Orvane Web UI service deleted successfully\n");
}
