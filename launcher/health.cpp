#include "launcher/health.h"

#include <iphlpapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>

#include "support/console.h"
#include "support/job.h"
#include "support/once.h"
#include "support/strings.h"

namespace {

constexpr DWORD kMaxIntervalSeconds = 86400;
constexpr DWORD kMaxTimeoutSeconds = 3600;
constexpr unsigned kMaxFailuresInRow = 1000;
// More than any start.ini holds; a bigger file is not Jetty's.
constexpr DWORD kMaxIniBytes = 1024 * 1024;
constexpr DWORD kProgressSliceMs = 1000;
constexpr size_t kTcpTableFirstBytes = 16 * 1024;
// The status line is all the probe reads.
constexpr size_t kMaxAnswerBytes = 64;

// The socket address of `ip`:`port` and its length.
struct SocketAddress {
    SocketAddress(const IpAddress& ip, uint16_t port)
    {
        if (ip.v6) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(port);
            memcpy(&v6->sin6_addr, ip.bytes.data(), 16);
            length = sizeof(sockaddr_in6);
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            memcpy(&v4->sin_addr, ip.bytes.data(), 4);
            length = sizeof(sockaddr_in);
        }
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }

    sockaddr_storage storage{};
    int length = 0;
};

bool ReadSmallFile(const std::wstring& path, std::string& text)
{
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxIniBytes)
        return false;
    text.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!text.empty() && !ReadFile(file.get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr))
        return false;
    text.resize(read);
    return true;
}

// start.ini, then start.d's *.ini in name order, as Jetty's start reads them.
std::vector<std::string> ReadJettyBaseSettings(const wchar_t* installDir)
{
    std::vector<std::string> texts;
    const std::wstring base = std::wstring(installDir) + L"\\jetty-base\\";
    std::string text;
    if (ReadSmallFile(base + L"start.ini", text))
        texts.push_back(text);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileExW((base + L"start.d\\*.ini").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0));
    if (find) {
        do {
            // "*.ini" also matches "x.inix" through its short name.
            const size_t length = wcslen(found.cFileName);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && length > 4 &&
                _wcsicmp(found.cFileName + length - 4, L".ini") == 0)
                names.push_back(found.cFileName);
        } while (FindNextFileW(find.get(), &found));
    }
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names)
        if (ReadSmallFile(base + L"start.d\\" + name, text))
            texts.push_back(text);
    return texts;
}

void ReadCount(const Config& config, const wchar_t* key, unsigned min, unsigned max, unsigned& value,
               std::vector<std::wstring>& warnings)
{
    const std::wstring path = std::wstring(L"/Launcher/") + key;
    const wchar_t* text = config.getValue(path.c_str(), nullptr, 0);
    unsigned parsed = 0;
    if (text == nullptr)
        return;
    if (ParseWholeNumber(text, max, parsed) && parsed >= min) {
        value = parsed;
        return;
    }
    warnings.push_back(
        FormatWide(L"The value of %s is not a whole number from %u to %u; using %u", key, min, max, value));
}

using GetExtendedTcpTableFunction = DWORD(WINAPI*)(void*, DWORD*, BOOL, ULONG, TCP_TABLE_CLASS, ULONG);

// Loaded only when needed: once a server has been created, or a port is
// found taken. From the system folder only, as the launcher runs as SYSTEM.
GetExtendedTcpTableFunction TcpTableFunction()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    static GetExtendedTcpTableFunction function = nullptr;
    RunOnce(once, [] {
        const HMODULE module = LoadLibraryExW(L"iphlpapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr)
            function = reinterpret_cast<GetExtendedTcpTableFunction>(
                reinterpret_cast<void*>(GetProcAddress(module, "GetExtendedTcpTable")));
    });
    return function;
}

// The snapshot's entry of `pid`; false when it has none.
bool FindProcessEntry(DWORD pid, PROCESSENTRY32W& entry)
{
    UniqueKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    entry = PROCESSENTRY32W{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (entry.th32ProcessID == pid)
            return true;
    return false;
}

std::wstring ProcessImageName(DWORD pid)
{
    PROCESSENTRY32W entry;
    return FindProcessEntry(pid, entry) ? entry.szExeFile : std::wstring();
}

}  // namespace

bool WinsockStarted()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    static bool started = false;
    RunOnce(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

HealthSettings ReadHealthSettings(const Config& config, const wchar_t* installDir)
{
    HealthSettings settings;
    const wchar_t* url = config.getValue(L"/Launcher/HealthCheckUrl", nullptr, 0);
    HealthAddressParse parse;
    if (url != nullptr) {
        settings.source = L"HealthCheckUrl";
        parse = ParseHealthUrl(url, settings.address);
    } else {
        settings.source = L"the Jetty base's start.ini and start.d";
        parse = DeriveHealthAddress(ReadJettyBaseSettings(installDir), settings.address);
    }
    switch (parse) {
    case HealthAddressParse::kAddress:
        settings.enabled = true;
        break;
    case HealthAddressParse::kOff:
        break;
    case HealthAddressParse::kMalformed:
        settings.warnings.push_back(
            url != nullptr ? L"The value of HealthCheckUrl is not an http:// or https:// address with an IP address "
                             L"and a port; checking Jetty's stop port alone"
                           : L"The Jetty base's HTTP port or host is not valid; set HealthCheckUrl to have the web UI "
                             L"checked");
        break;
    case HealthAddressParse::kHostName:
        settings.warnings.push_back(FormatWide(
            L"The host of the web UI's address (from %s) is a name, which the launcher does not look up; set "
            L"HealthCheckUrl with an IP address to have the web UI checked",
            settings.source.c_str()));
        break;
    }
    unsigned intervalSeconds = settings.intervalMs / 1000, timeoutSeconds = settings.timeoutMs / 1000;
    // An interval of 0 turns the checks while running off.
    ReadCount(config, L"HealthCheckIntervalSeconds", 0, kMaxIntervalSeconds, intervalSeconds, settings.warnings);
    ReadCount(config, L"HealthCheckTimeoutSeconds", 1, kMaxTimeoutSeconds, timeoutSeconds, settings.warnings);
    ReadCount(config, L"HealthCheckFailures", 1, kMaxFailuresInRow, settings.failuresInRow, settings.warnings);
    settings.intervalMs = intervalSeconds * 1000;
    settings.timeoutMs = timeoutSeconds * 1000;
    return settings;
}

bool PortAnswers(const IpAddress& ip, uint16_t port)
{
    if (!WinsockStarted())
        return false;
    const SocketAddress address(ip, port);
    UniqueSocket probe(socket(address.family(), SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    if (!probe || ioctlsocket(probe.get(), FIONBIO, &nonBlocking) != 0)
        return false;
    if (connect(probe.get(), address.get(), address.length) == 0)
        return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    fd_set connected, failed;
    FD_ZERO(&connected);
    FD_ZERO(&failed);
    FD_SET(probe.get(), &connected);
    FD_SET(probe.get(), &failed);
    timeval wait{0, static_cast<long>(kPortLookMs * 1000)};
    return select(0, nullptr, &connected, &failed, &wait) > 0 && FD_ISSET(probe.get(), &connected);
}

bool IsLocalAddress(const IpAddress& ip)
{
    if (IsLoopback(ip))
        return true;
    // Only an address of this machine can be bound to.
    const SocketAddress address(ip, 0);
    UniqueSocket probe(WinsockStarted() ? socket(address.family(), SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET);
    return probe && bind(probe.get(), address.get(), address.length) == 0;
}

namespace {

struct Listener {
    IpAddress address;
    uint16_t port;
    DWORD ownerPid;
};

// The TCP table of `family`'s listeners (MIB_TCPTABLE_OWNER_PID or its
// IPv6 form); false when it cannot be read.
bool ReadTcpTable(ULONG family, std::vector<BYTE>& buffer)
{
    const GetExtendedTcpTableFunction getTable = TcpTableFunction();
    if (getTable == nullptr)
        return false;
    // Room for a few hundred listeners at once: under Wine each call costs
    // about 10 ms, so the usual case makes one.
    buffer.resize(kTcpTableFirstBytes);
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD result = getTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
    // The table may grow between two calls.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = getTable(buffer.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    return result == NO_ERROR;
}

// The listeners of `family` (AF_INET or AF_INET6); false when the table
// cannot be read.
bool ReadListeners(ULONG family, std::vector<Listener>& listeners)
{
    listeners.clear();
    std::vector<BYTE> buffer;
    if (!ReadTcpTable(family, buffer))
        return false;
    if (family == AF_INET6) {
        const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buffer.data());
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            Listener listener{IpAddress(), ntohs(static_cast<u_short>(table->table[i].dwLocalPort)),
                              table->table[i].dwOwningPid};
            listener.address.v6 = true;
            memcpy(listener.address.bytes.data(), table->table[i].ucLocalAddr, 16);
            listeners.push_back(listener);
        }
        return true;
    }
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        Listener listener{IpAddress(), ntohs(static_cast<u_short>(table->table[i].dwLocalPort)),
                          table->table[i].dwOwningPid};
        memcpy(listener.address.bytes.data(), &table->table[i].dwLocalAddr, 4);
        listeners.push_back(listener);
    }
    return true;
}

}  // namespace

bool ListenerOwnersAreNamed()
{
    std::vector<Listener> listeners;
    // An unreadable or empty table tells nothing: look again later.
    if (!ReadListeners(AF_INET, listeners) || listeners.empty())
        return true;
    for (const Listener& listener : listeners)
        if (listener.ownerPid != 0)
            return true;
    return false;
}

std::vector<DWORD> PortListenerPids(const IpAddress& ip, uint16_t port, bool& known)
{
    std::vector<DWORD> pids;
    std::vector<Listener> listeners;
    known = ReadListeners(ip.v6 ? AF_INET6 : AF_INET, listeners);
    // A listener on every address of the family holds this one's port too.
    for (const Listener& listener : listeners)
        if (listener.port == port && (listener.address.bytes == ip.bytes || IsUnspecified(listener.address)))
            pids.push_back(listener.ownerPid);
    return pids;
}

std::wstring DescribeProcess(DWORD pid)
{
    const std::wstring image = ProcessImageName(pid);
    return FormatWide(L"process %u (%s)", static_cast<unsigned>(pid),
                      image.empty() ? L"its name is unknown" : image.c_str());
}

std::wstring DescribePortListener(const IpAddress& ip, uint16_t port)
{
    bool known = false;
    for (DWORD pid : PortListenerPids(ip, port, known))
        if (pid != 0)
            return DescribeProcess(pid);
    return L"another process";
}

bool IsOurProcess(DWORD pid, DWORD serverPid)
{
    if (pid == serverPid)
        return true;
    const HANDLE job = LauncherJob();
    if (job != nullptr) {
        UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        BOOL inJob = FALSE;
        if (process && IsProcessInJob(process.get(), job, &inJob) && inJob)
            return true;
    }
    // Outside the job (there is none, or Windows refused the server a place
    // in it), a child JVM of the server is known by its parent; a reused
    // parent ID would need the server gone.
    return IsProcessOrChildOf(pid, serverPid);
}

bool IsProcessOrChildOf(DWORD pid, DWORD parentPid)
{
    PROCESSENTRY32W entry;
    return pid == parentPid || (FindProcessEntry(pid, entry) && entry.th32ParentProcessID == parentPid);
}

ProbeResult ProbeHealthAddress(const HealthAddress& address, HANDLE server, HANDLE stopEvent, DWORD connectMs,
                               DWORD totalMs, int& status, void (*progress)())
{
    status = 0;
    UniqueKernelHandle socketEvent(WSACreateEvent());
    const SocketAddress target(address.ip, address.port);
    UniqueSocket probe(WinsockStarted() ? socket(target.family(), SOCK_STREAM, IPPROTO_TCP) : INVALID_SOCKET);
    if (!socketEvent || !probe ||
        WSAEventSelect(probe.get(), socketEvent.get(), FD_CONNECT | FD_READ | FD_CLOSE) != 0)
        return ProbeResult::kFailed;
    if (connect(probe.get(), target.get(), target.length) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return ProbeResult::kFailed;
    const ULONGLONG startedAt = GetTickCount64();
    bool connected = false;
    std::string answer;
    for (;;) {
        const ULONGLONG elapsed = GetTickCount64() - startedAt;
        const DWORD limit = connected ? totalMs : std::min(connectMs, totalMs);
        if (elapsed >= limit)
            return ProbeResult::kTimedOut;
        // A null handle is left out of the wait.
        HANDLE waits[3];
        DWORD count = 0;
        const DWORD socketIndex = (server != nullptr) + (stopEvent != nullptr);
        if (server != nullptr)
            waits[count++] = server;
        if (stopEvent != nullptr)
            waits[count++] = stopEvent;
        waits[count++] = socketEvent.get();
        const DWORD sliceMs = std::min<DWORD>(static_cast<DWORD>(limit - elapsed), kProgressSliceMs);
        const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, sliceMs);
        if (woken == WAIT_TIMEOUT && progress != nullptr)
            progress();
        if (woken != WAIT_OBJECT_0 + socketIndex) {
            if (woken == WAIT_TIMEOUT)
                continue;
            if (woken == WAIT_FAILED)
                return ProbeResult::kFailed;
            return waits[woken - WAIT_OBJECT_0] == server ? ProbeResult::kServerEnded : ProbeResult::kStopRequested;
        }
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(probe.get(), socketEvent.get(), &events) != 0)
            return ProbeResult::kFailed;
        if ((events.lNetworkEvents & FD_CONNECT) != 0) {
            const int error = events.iErrorCode[FD_CONNECT_BIT];
            if (error != 0)
                return error == WSAECONNREFUSED ? ProbeResult::kRefused : ProbeResult::kFailed;
            connected = true;
            if (address.https)
                return ProbeResult::kAnswered;
            const std::string request = ComposeHealthRequest(address);
            // A few hundred bytes fit any socket's send buffer at once.
            if (send(probe.get(), request.data(), static_cast<int>(request.size()), 0) !=
                static_cast<int>(request.size()))
                return ProbeResult::kFailed;
        }
        if ((events.lNetworkEvents & (FD_READ | FD_CLOSE)) == 0)
            continue;
        char buffer[kMaxAnswerBytes];
        int received = 0;
        while (answer.size() < kMaxAnswerBytes &&
               (received = recv(probe.get(), buffer, static_cast<int>(kMaxAnswerBytes - answer.size()), 0)) > 0) {
            answer.append(buffer, static_cast<size_t>(received));
            status = ParseHttpStatusLine(answer.data(), answer.size());
            if (status > 0)
                return ProbeResult::kAnswered;
            if (status == kNotHttp)
                return ProbeResult::kNotHttp;
        }
        if (answer.size() >= kMaxAnswerBytes)
            return ProbeResult::kNotHttp;
        if (received == 0 || (events.lNetworkEvents & FD_CLOSE) != 0)
            return answer.empty() ? ProbeResult::kFailed : ProbeResult::kNotHttp;
    }
}

std::wstring ProbeFailureText(ProbeResult result, DWORD totalMs)
{
    switch (result) {
    case ProbeResult::kRefused:
        return L"connection refused";
    case ProbeResult::kTimedOut:
        return FormatWide(L"no answer in %u s", static_cast<unsigned>(totalMs / 1000));
    case ProbeResult::kNotHttp:
        return L"the answer was not HTTP";
    case ProbeResult::kFailed:
        return L"the connection failed";
    default:
        return std::wstring();
    }
}
