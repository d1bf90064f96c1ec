// The web UI's health address and the rules of its check: where it lies
// (the HealthCheckUrl value, or the Jetty base's own HTTP settings), the
// request sent to it and how its answer is read. Platform-free.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// An IPv4 or IPv6 address, its bytes in network order (IPv4 in the first 4).
struct IpAddress {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{};
};

// `ipv4` in host byte order.
constexpr IpAddress IpAddressOfIpv4(uint32_t ipv4)
{
    IpAddress address;
    address.bytes[0] = static_cast<uint8_t>(ipv4 >> 24);
    address.bytes[1] = static_cast<uint8_t>(ipv4 >> 16);
    address.bytes[2] = static_cast<uint8_t>(ipv4 >> 8);
    address.bytes[3] = static_cast<uint8_t>(ipv4);
    return address;
}

constexpr IpAddress kLoopbackIpv4 = IpAddressOfIpv4(0x7F000001);  // 127.0.0.1

// An IPv4 dotted quad or an IPv6 literal without brackets or zone.
bool ParseIpAddress(const std::string& text, IpAddress& address);
// "127.0.0.1", or an IPv6 address in its shortest form ("::1").
std::string IpAddressText(const IpAddress& address);
// 127.0.0.0/8 or ::1.
bool IsLoopback(const IpAddress& address);
// 0.0.0.0 or ::, a listener's "every address".
bool IsUnspecified(const IpAddress& address);

struct HealthAddress {
    // An https address is only connected to: the launcher speaks no TLS,
    // and Jetty opens its connectors only once the web applications are up.
    bool https = false;
    IpAddress ip;
    uint16_t port = 0;
    std::string hostHeader;  // "127.0.0.1:8080", "[::1]:8080"
    std::string path;        // from the first '/', at least "/"
    std::wstring text;       // for messages: "http://127.0.0.1:8080/"
};

enum class HealthAddressParse {
    kAddress,
    kOff,        // "none", or a Jetty base without the http module
    kMalformed,  // not an address the launcher can probe
    kHostName,   // a host name: looking it up could block a stop
};

// A HealthCheckUrl value: "none" (any case) turns the check off; otherwise
// "http://" or "https://", a host that is an IPv4 literal, an IPv6 literal
// in brackets, "localhost", empty or "0.0.0.0" (the last three probed at
// 127.0.0.1; "[::]" at ::1), an optional port and an optional path. User
// information is refused: the check never sends credentials.
HealthAddressParse ParseHealthUrl(const std::wstring& value, HealthAddress& address);

// The address of the Jetty base's HTTP connector, from the texts of
// start.ini and then start.d's *.ini files in name order, read as Jetty's
// start does: a later "key=value" wins, "key?=value" sets only what is
// still unset, "-Dkey=value" sets it too. kOff when no file enables the
// http module (or one that enables it); kMalformed when the port is not a
// number.
HealthAddressParse DeriveHealthAddress(const std::vector<std::string>& iniTexts, HealthAddress& address);

// A whole number of at most `max` (a HealthCheck* count or time), digits only.
bool ParseWholeNumber(const std::wstring& text, unsigned max, unsigned& value);

// The GET request the check sends: no redirects are followed, no
// credentials sent, and the server closes the connection after answering.
std::string ComposeHealthRequest(const HealthAddress& address);

// The status of an HTTP answer that begins with `data`: the status code
// (100 to 999), kStatusIncomplete while the status line is not all there,
// kNotHttp when the bytes cannot begin one.
constexpr int kStatusIncomplete = 0;
constexpr int kNotHttp = -1;
int ParseHttpStatusLine(const char* data, size_t size);

// While the server comes up, an answer below 500 shows it serving (a login
// page's 401 or a 404 at "/" included); once it has answered, any status
// line shows it alive (an application may answer 503 on purpose).
inline bool StatusShowsReady(int status) { return status < 500; }
