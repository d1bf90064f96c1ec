// Stand-in for java.exe in the tests. It records how it was started and
// speaks Jetty's stop protocol on both sides:
//  - as the server (no "--stop"): listens on 127.0.0.1:<stop.port> and
//    ends after a connection sends "<stop.key>\r\nstop\r\n", answering
//    "Stopped\r\n";
//  - with "--stop": connects to <stop.port>, sends that request and prints
//    what it does.
// Behaviour comes from files beside the exe, because a service started by
// Wine does not see the test's environment:
//  server-mode.txt: "serve" (default), "exit <code>", "hang" (never ends,
//                   no stop port), "ignore-stop" (listens, never honours a
//                   request), "slow-stop <ms>" (answers, then takes <ms> to end),
//                   "listen-after <ms>" (opens its stop port only after <ms>),
//                   "spew <bytes>" (writes that much output as 100-byte
//                   lines, records in spew-ms.txt how long the writes took,
//                   then serves)
//                   "exit-on-connect" (ends, unanswered, when a request comes)
//  web-mode.txt:    "<port> <open-after ms> <mute-after ms>": also serves HTTP
//                   on 127.0.0.1:<port> from <open-after> ms after its start,
//                   answering "200 OK" until <mute-after> ms (-1: always),
//                   then taking connections but never answering
//  stop-mode.txt:   "normal" (default), "hang", "flood <bytes>" (that much
//                   output first), "no-newline" (output without line breaks),
//                   "split-utf8" (only UTF-8 output cut inside characters
//                   across raw writes, the last one ending inside one)
// Each start writes <mode>-invocation.txt beside the exe: the command line,
// the current folder, OVWEBUI_HOME and then each argument as the C runtime
// split it (argv[0] first), one per line, in UTF-8.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

#include "launcher/command_line.h"

namespace {

std::wstring ExeDir()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    const size_t slash = dir.find_last_of(L'\\');
    return slash == std::wstring::npos ? L"." : dir.substr(0, slash);
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

std::string ReadSetting(const wchar_t* file, const char* fallback)
{
    const std::wstring path = ExeDir() + L"\\" + file;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr)
        return fallback;
    char buffer[256] = {};
    const size_t n = fread(buffer, 1, sizeof(buffer) - 1, f);
    fclose(f);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? fallback : text;
}

void Record(const wchar_t* mode, int argc, wchar_t** argv)
{
    wchar_t cwd[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    wchar_t home[4096] = {};
    const DWORD homeLength = GetEnvironmentVariableW(L"OVWEBUI_HOME", home, 4096);
    const std::string text = Utf8(GetCommandLineW()) + "\n" + Utf8(cwd) + "\n" +
                             (homeLength == 0 ? std::string("(unset)") : Utf8(home)) + "\n";
    std::string arguments;
    for (int i = 0; i < argc; ++i)
        arguments += Utf8(argv[i]) + "\n";
    const std::wstring path = ExeDir() + L"\\" + mode + L"-invocation.txt";
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f != nullptr) {
        fwrite(text.data(), 1, text.size(), f);
        fwrite(arguments.data(), 1, arguments.size(), f);
        fclose(f);
    }
}

void Say(const char* text)
{
    fputs(text, stdout);
    fflush(stdout);
}

std::string Argument(int argc, wchar_t** argv, const wchar_t* prefix)
{
    const size_t n = wcslen(prefix);
    for (int i = 1; i < argc; ++i)
        if (wcsncmp(argv[i], prefix, n) == 0)
            return Utf8(argv[i] + n);
    return std::string();
}

bool ReadLine(SOCKET s, std::string& line)
{
    line.clear();
    char c;
    while (line.size() < 1024) {
        if (recv(s, &c, 1, 0) != 1)
            return false;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return true;
        }
        line.push_back(c);
    }
    return false;
}

// Like Java on the console's Ctrl+C: the stop port closes at once, the
// shutdown hooks take a while, then the process ends. Ctrl+Break only
// prints (Java's thread dump) and serving goes on.
SOCKET g_listener = INVALID_SOCKET;
volatile LONG g_interrupted = 0;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event == CTRL_BREAK_EVENT) {
        Say("fake-java: thread dump\n");
        return TRUE;
    }
    InterlockedExchange(&g_interrupted, 1);
    closesocket(g_listener);
    Sleep(1000);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

struct WebMode {
    int port = 0;
    long openAfterMs = 0;
    long muteAfterMs = -1;
};

DWORD WINAPI ServeWeb(void* context)
{
    const WebMode web = *static_cast<WebMode*>(context);
    const ULONGLONG startedAt = GetTickCount64();
    Sleep(static_cast<DWORD>(web.openAfterMs));
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(web.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 8) != 0)
        return 1;
    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return 1;
        // A stuck server: the connection stays open, unanswered.
        if (web.muteAfterMs >= 0 && GetTickCount64() - startedAt >= static_cast<ULONGLONG>(web.muteAfterMs))
            continue;
        char request[1024];
        recv(client, request, sizeof(request), 0);
        const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        send(client, answer, sizeof(answer) - 1, 0);
        closesocket(client);
    }
}

int Serve(int port, const std::string& key, const std::string& mode)
{
    static WebMode web;
    if (sscanf(ReadSetting(L"web-mode.txt", "").c_str(), "%d %ld %ld", &web.port, &web.openAfterMs,
               &web.muteAfterMs) >= 2)
        CloseHandle(CreateThread(nullptr, 0, &ServeWeb, &web, 0, nullptr));
    SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
    if (mode.rfind("listen-after ", 0) == 0)
        Sleep(static_cast<DWORD>(atoi(mode.c_str() + 13)));
    SOCKET listener = g_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    BOOL reuse = TRUE;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(listener, 4) != 0) {
        printf("fake-java: cannot listen on port %d (error %d)\n", port, WSAGetLastError());
        fflush(stdout);
        return 98;
    }
    printf("fake-java: serving, stop port %d\n", port);
    fflush(stdout);
    fprintf(stderr, "fake-java: serving (on stderr)\n");
    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            while (g_interrupted != 0)
                Sleep(1000);  // the handler ends the process
            return 97;
        }
        std::string first, second;
        if (mode == "exit-on-connect" && ReadLine(client, first)) {
            Say("fake-java: ending without an answer\n");
            return 0;
        }
        const bool ok = ReadLine(client, first) && ReadLine(client, second);
        if (ok && first == key && second == "stop") {
            if (mode != "ignore-stop") {
                send(client, "Stopped\r\n", 9, 0);
                closesocket(client);
                if (mode.rfind("slow-stop ", 0) == 0)
                    Sleep(static_cast<DWORD>(atoi(mode.c_str() + 10)));
                Say("fake-java: stopped by request\n");
                closesocket(listener);
                return 0;
            }
        }
        closesocket(client);
    }
}

// Raw writes of whole lines, as a busy server logs; the time they took,
// in ms, goes to spew-ms.txt.
void Spew(long long total)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string block;
    for (int i = 0; i < 655; ++i)
        block += std::string(99, static_cast<char>('a' + i % 26)) + "\n";
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (long long sent = 0; sent < total;) {
        const DWORD piece = static_cast<DWORD>(std::min<long long>(static_cast<long long>(block.size()), total - sent));
        DWORD written = 0;
        if (!WriteFile(out, block.data(), piece, &written, nullptr))
            break;
        sent += written;
    }
    QueryPerformanceCounter(&end);
    const double ms = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    FILE* f = _wfopen((ExeDir() + L"\\spew-ms.txt").c_str(), L"wb");
    if (f != nullptr) {
        fprintf(f, "%.1f\n", ms);
        fclose(f);
    }
}

int SendStop(int port, const std::string& key, const std::string& mode)
{
    if (mode == "hang") {
        Say("fake-java: stop command hangs\n");
        for (;;)
            Sleep(1000);
    }
    if (mode == "split-utf8") {
        // Raw writes: the C runtime's buffered ones happen to cut only
        // between characters. The pauses let each write arrive as its own read.
        const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        for (const char* piece : {"caf\xC3", "\xA9 = 5\xE2\x82", "\xAC, end\xE2"}) {
            DWORD written = 0;
            WriteFile(out, piece, static_cast<DWORD>(strlen(piece)), &written, nullptr);
            Sleep(300);
        }
        return 0;
    }
    if (mode.rfind("flood ", 0) == 0) {
        const long total = atol(mode.c_str() + 6);
        std::string line(99, 'x');
        line.push_back('\n');
        for (long sent = 0; sent < total; sent += static_cast<long>(line.size()))
            fwrite(line.data(), 1, line.size(), stdout);
        fflush(stdout);
    }
    if (mode == "no-newline") {
        for (int i = 0; i < 1000; ++i)
            fputs("chunk-without-newline;", stdout);
        fflush(stdout);
    }
    printf("fake-java: sending stop to 127.0.0.1:%d\n", port);
    fflush(stdout);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        printf("fake-java: cannot connect (error %d)\n", WSAGetLastError());
        fflush(stdout);
        return 1;
    }
    const std::string request = key + "\r\nstop\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string answer;
    if (ReadLine(s, answer))
        printf("fake-java: server answered %s\n", answer.c_str());
    else
        printf("fake-java: no answer\n");
    fflush(stdout);
    closesocket(s);
    return 0;
}

// Plain child behaviours for the executor's tests.
int Utility(int argc, wchar_t** argv)
{
    const std::wstring what = argv[1];
    if (what == L"--emit-lines" && argc > 2) {
        const int count = _wtoi(argv[2]);
        for (int i = 1; i <= count; ++i)
            printf("line %d\n", i);
        fflush(stdout);
        fputs("to stderr\n", stderr);
        return 7;
    }
    if (what == L"--forever") {
        Say("forever\n");
        for (;;)
            Sleep(1000);
    }
    if (what == L"--spew") {
        for (;;)
            Say("spew spew spew spew spew spew spew spew spew spew spew spew spew spew spew spew\n");
    }
    return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && wcsncmp(argv[1], L"--", 2) == 0 && wcscmp(argv[1], L"--stop") != 0)
        return Utility(argc, argv);
    bool stop = false;
    for (int i = 1; i < argc; ++i)
        stop = stop || wcscmp(argv[i], L"--stop") == 0;
    Record(stop ? L"stop" : L"server", argc, argv);

    const std::string portText = Argument(argc, argv, L"stop.port=");
    const int port = portText.empty() ? OV_STOP_PORT_NUMBER : atoi(portText.c_str());
    const std::string key = Argument(argc, argv, L"stop.key=");

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    if (stop)
        return SendStop(port, key, ReadSetting(L"stop-mode.txt", "normal"));

    const std::string mode = ReadSetting(L"server-mode.txt", "serve");
    if (mode.rfind("exit ", 0) == 0) {
        Say("fake-java: exiting at once\n");
        fprintf(stderr, "fake-java: error: exit code %s\n", mode.c_str() + 5);
        return atoi(mode.c_str() + 5);
    }
    if (mode.rfind("spew ", 0) == 0)
        Spew(atoll(mode.c_str() + 5));
    if (mode == "hang") {
        for (;;)
            Sleep(1000);
    }
    return Serve(port, key, mode);
}
