// The web UI's health: which address answers for it, whether a port is
// already taken (and by whom), and one probe of the address that a stop
// or the server's end interrupts at once.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <string>
#include <vector>

#include "launcher/health_address.h"
#include "support/config.h"
#include "support/handles.h"

struct SocketTraits {
    using Value = SOCKET;
    static Value empty() { return INVALID_SOCKET; }
    static bool valid(Value v) { return v != INVALID_SOCKET; }
    static void close(Value v) { closesocket(v); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;
// Winsock, started once for the process; false when it cannot be.
bool WinsockStarted();

struct HealthSettings {
    bool enabled = false;  // there is an address to probe
    HealthAddress address;
    // Where the address came from ("HealthCheckUrl", or the Jetty base).
    std::wstring source;
    // Problems with the keys, for the log (or the console) as warnings.
    std::vector<std::wstring> warnings;
    DWORD intervalMs = 30000;  // 0: no checks once the server runs
    DWORD timeoutMs = 10000;
    unsigned failuresInRow = 3;
};
// The HealthCheck* keys of `config`, and without HealthCheckUrl the Jetty
// base below `installDir`.
HealthSettings ReadHealthSettings(const Config& config, const wchar_t* installDir);

// Whether something accepts a TCP connection at `ip`:`port` within
// kPortLookMs. Windows retries a refused loopback connection
// for about a second; a listener there answers in well under a millisecond.
constexpr DWORD kPortLookMs = 50;
bool PortAnswers(const IpAddress& ip, uint16_t port);
// Whether `ip` is one of this machine's addresses (a loopback one included).
bool IsLocalAddress(const IpAddress& ip);

// Whether the TCP table names the owners of listeners at all (Wine names
// none; Windows names every one). A table that names none can never show a
// stranger on a port; true when it cannot tell. Costs one read of the table.
bool ListenerOwnersAreNamed();
// The processes listening on `ip`:`port` (or on every address of its
// family), from the TCP table; `known` is false when the table could not be
// read. Pid 0 stands for an owner the table does not name (Wine names none).
std::vector<DWORD> PortListenerPids(const IpAddress& ip, uint16_t port, bool& known);
// "process 1234 (java.exe)".
std::wstring DescribeProcess(DWORD pid);
// The first listener the table names, or "another process" when it names none.
std::wstring DescribePortListener(const IpAddress& ip, uint16_t port);
// Whether `pid` is the server itself or another process of the launcher's job.
bool IsOurProcess(DWORD pid, DWORD serverPid);
// Whether `pid` is `parentPid` or a child of it.
bool IsProcessOrChildOf(DWORD pid, DWORD parentPid);

enum class ProbeResult {
    kAnswered,       // `status` holds the status code (0 for an https address: it connected)
    kRefused,        // nothing accepts connections there
    kTimedOut,       // connected or not, no status line in time
    kNotHttp,        // something answered that is not HTTP
    kFailed,         // the connection broke before a status line
    kServerEnded,
    kStopRequested,
};
// One probe of `address`: connect (at most `connectMs`), send the GET and
// read the status line, all within `totalMs`. `server` ending or
// `stopEvent` being set ends it at once (either may be null). `progress`,
// when not null, is called about every second while it waits.
ProbeResult ProbeHealthAddress(const HealthAddress& address, HANDLE server, HANDLE stopEvent, DWORD connectMs,
                               DWORD totalMs, int& status, void (*progress)() = nullptr);
// Why a probe failed, for the log: "connection refused", "no answer in 10 s".
std::wstring ProbeFailureText(ProbeResult result, DWORD totalMs);
