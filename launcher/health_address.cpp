#include "launcher/health_address.h"

#include <map>

namespace {

constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;
// Jetty's own default for its HTTP connector.
constexpr uint16_t kJettyHttpPort = 8080;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i)
        if (i >= text.size() || Lower(text[i]) != prefix[i])
            return false;
    return true;
}

std::string Trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A decimal number within [1, max]; no sign, no blanks.
bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value)
{
    if (text.empty() || text.size() > 5)
        return false;
    value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value >= 1 && value <= max;
}

bool ParseIpv4(const std::string& text, uint32_t& ipv4)
{
    ipv4 = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos || end == start || end - start > 3)
            return false;
        uint32_t value = 0;
        for (size_t i = start; i < end; ++i) {
            if (!IsDigit(text[i]))
                return false;
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        }
        if (value > 255)
            return false;
        ipv4 = (ipv4 << 8) | value;
        start = end + 1;
    }
    return true;
}

std::string Ipv4Text(uint32_t ipv4)
{
    return std::to_string(ipv4 >> 24) + '.' + std::to_string((ipv4 >> 16) & 0xFF) + '.' +
           std::to_string((ipv4 >> 8) & 0xFF) + '.' + std::to_string(ipv4 & 0xFF);
}

// The host as probed: a wildcard or absent host means this machine.
HealthAddressParse ResolveHost(const std::string& host, uint32_t& ipv4)
{
    if (host.empty() || host == "0.0.0.0" || (host.size() == 9 && StartsWithNoCase(host, "localhost"))) {
        ipv4 = kLoopbackIpv4;
        return HealthAddressParse::kAddress;
    }
    return ParseIpv4(host, ipv4) ? HealthAddressParse::kAddress : HealthAddressParse::kHostName;
}

void Finish(HealthAddress& address, const std::string& path)
{
    address.hostHeader = Ipv4Text(address.ipv4) + ':' + std::to_string(address.port);
    address.path = path;
    const std::string text = (address.https ? "https://" : "http://") + address.hostHeader + path;
    address.text.assign(text.begin(), text.end());
}

bool ModuleListEnablesHttp(const std::string& list)
{
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(',', start);
        const std::string name = Trim(list.substr(start, end == std::string::npos ? std::string::npos : end - start));
        // These depend on http, so Jetty enables it with them.
        if (name == "http" || name == "http2c" || name == "http-forwarded" || name == "proxy-protocol")
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

}  // namespace

HealthAddressParse ParseHealthUrl(const std::wstring& value, HealthAddress& address)
{
    address = HealthAddress();
    std::string url;
    for (wchar_t c : value) {
        // Only printable ASCII goes into a request line.
        if (c <= L' ' || c > L'~')
            return HealthAddressParse::kMalformed;
        url += static_cast<char>(c);
    }
    if (url.size() == 4 && StartsWithNoCase(url, "none"))
        return HealthAddressParse::kOff;
    size_t at = 0;
    if (StartsWithNoCase(url, "http://")) {
        at = 7;
    } else if (StartsWithNoCase(url, "https://")) {
        at = 8;
        address.https = true;
    } else {
        return HealthAddressParse::kMalformed;
    }
    const size_t authorityEnd = url.find_first_of("/?#", at);
    const std::string authority = url.substr(at, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - at);
    if (authority.find('@') != std::string::npos)
        return HealthAddressParse::kMalformed;
    std::string host = authority;
    address.port = address.https ? kHttpsPort : kHttpPort;
    // An IPv6 literal ("[::1]:8080") keeps its colons inside the brackets.
    const size_t colon = authority.rfind(':');
    if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        uint32_t port = 0;
        if (!ParseNumber(authority.substr(colon + 1), 65535, port))
            return HealthAddressParse::kMalformed;
        address.port = static_cast<uint16_t>(port);
        host = authority.substr(0, colon);
    }
    const HealthAddressParse hostParse = ResolveHost(host, address.ipv4);
    if (hostParse != HealthAddressParse::kAddress)
        return hostParse;
    std::string path = authorityEnd == std::string::npos ? std::string() : url.substr(authorityEnd);
    path = path.substr(0, path.find('#'));
    if (path.empty() || path[0] != '/')
        path.insert(0, 1, '/');
    Finish(address, path);
    return HealthAddressParse::kAddress;
}

HealthAddressParse DeriveHealthAddress(const std::vector<std::string>& iniTexts, HealthAddress& address)
{
    address = HealthAddress();
    bool httpEnabled = false;
    std::map<std::string, std::string> properties;
    for (const std::string& text : iniTexts) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = Trim(text.substr(start, end - start));
            start = end + 1;
            if (line.empty() || line[0] == '#')
                continue;
            if (line.compare(0, 9, "--module=") == 0 || line.compare(0, 10, "--modules=") == 0) {
                httpEnabled = httpEnabled || ModuleListEnablesHttp(line.substr(line.find('=') + 1));
                continue;
            }
            if (line.compare(0, 2, "--") == 0)
                continue;
            if (line.compare(0, 2, "-D") == 0)
                line.erase(0, 2);
            const size_t equals = line.find('=');
            if (equals == std::string::npos || equals == 0)
                continue;
            const bool onlyIfUnset = line[equals - 1] == '?';
            const std::string key = Trim(line.substr(0, onlyIfUnset ? equals - 1 : equals));
            const std::string value = Trim(line.substr(equals + 1));
            if (!onlyIfUnset || properties.count(key) == 0)
                properties[key] = value;
        }
    }
    if (!httpEnabled)
        return HealthAddressParse::kOff;
    // The current names first, then the ones Jetty 9.4 still takes.
    const auto property = [&properties](const char* name, const char* oldName) -> const std::string* {
        auto found = properties.find(name);
        if (found == properties.end())
            found = properties.find(oldName);
        return found == properties.end() ? nullptr : &found->second;
    };
    address.port = kJettyHttpPort;
    if (const std::string* port = property("jetty.http.port", "jetty.port")) {
        uint32_t number = 0;
        if (!ParseNumber(*port, 65535, number))
            return HealthAddressParse::kMalformed;
        address.port = static_cast<uint16_t>(number);
    }
    const std::string* host = property("jetty.http.host", "jetty.host");
    const HealthAddressParse hostParse = ResolveHost(host != nullptr ? *host : std::string(), address.ipv4);
    if (hostParse != HealthAddressParse::kAddress)
        return hostParse;
    Finish(address, "/");
    return HealthAddressParse::kAddress;
}

bool ParseWholeNumber(const std::wstring& text, unsigned max, unsigned& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value <= max;
}

std::string ComposeHealthRequest(const HealthAddress& address)
{
    return "GET " + address.path + " HTTP/1.1\r\nHost: " + address.hostHeader +
           "\r\nUser-Agent: ovwebui-health\r\nAccept: */*\r\nConnection: close\r\n\r\n";
}

int ParseHttpStatusLine(const char* data, size_t size)
{
    // "HTTP/1.1 200 OK": the version, one space, three digits, then a space
    // or the line's end.
    static const char kPrefix[] = "HTTP/";
    size_t i = 0;
    for (; i < 5; ++i) {
        if (i >= size)
            return kStatusIncomplete;
        if (data[i] != kPrefix[i])
            return kNotHttp;
    }
    for (; i < size && data[i] != ' '; ++i)
        if ((!IsDigit(data[i]) && data[i] != '.') || i > 8)
            return kNotHttp;
    int status = 0;
    for (size_t digit = 0; digit < 4; ++digit) {
        if (++i >= size)
            return kStatusIncomplete;
        if (digit == 3)
            return data[i] == ' ' || data[i] == '\r' || data[i] == '\n' ? status : kNotHttp;
        if (!IsDigit(data[i]))
            return kNotHttp;
        status = status * 10 + (data[i] - '0');
    }
    return kNotHttp;
}
