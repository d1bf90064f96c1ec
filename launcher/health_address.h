// The web UI's health address and the rules of its check: where it lies
// (the HealthCheckUrl value, or the Jetty base's own HTTP settings), the
// request sent to it and how its answer is read. Platform-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kLoopbackIpv4 = 0x7F000001;  // 127.0.0.1, host byte order

struct HealthAddress {
    // An https address is only connected to: the launcher speaks no TLS,
    // and Jetty opens its connectors only once the web applications are up.
    bool https = false;
    uint32_t ipv4 = 0;  // host byte order
    uint16_t port = 0;
    std::string hostHeader;  // "127.0.0.1:8080"
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
// "http://" or "https://", a host that is an IPv4 literal, "localhost",
// empty or "0.0.0.0" (the last three probed at 127.0.0.1), an optional
// port and an optional path. User information is refused: the check never
// sends credentials.
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

// The status of an HTTP answer that begins with `data`: the status code,
// kStatusIncomplete while the status line is not all there, kNotHttp when
// the bytes cannot begin one.
constexpr int kStatusIncomplete = 0;
constexpr int kNotHttp = -1;
int ParseHttpStatusLine(const char* data, size_t size);

// While the server comes up, an answer below 500 shows it serving (a login
// page's 401 or a 404 at "/" included); once it has answered, any status
// line shows it alive (an application may answer 503 on purpose).
inline bool StatusShowsReady(int status) { return status >= 100 && status < 500; }
inline bool StatusShowsAlive(int status) { return status >= 100; }
