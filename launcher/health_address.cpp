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

bool ParseIpv4(const std::string& text, IpAddress& address)
{
    address = IpAddress();
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
        address.bytes[part] = static_cast<uint8_t>(value);
        start = end + 1;
    }
    return true;
}

int HexValue(char c)
{
    return IsDigit(c) ? c - '0' : (Lower(c) >= 'a' && Lower(c) <= 'f') ? Lower(c) - 'a' + 10 : -1;
}

// The 16-bit groups of one side of "::": hex groups of 1 to 4 digits, the
// last of which may be a dotted quad (two groups).
bool ParseIpv6Groups(const std::string& text, std::vector<uint16_t>& groups)
{
    groups.clear();
    if (text.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(':', start);
        const std::string group = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos && group.find('.') != std::string::npos) {
            IpAddress ipv4;
            if (!ParseIpv4(group, ipv4))
                return false;
            groups.push_back(static_cast<uint16_t>(ipv4.bytes[0] << 8 | ipv4.bytes[1]));
            groups.push_back(static_cast<uint16_t>(ipv4.bytes[2] << 8 | ipv4.bytes[3]));
            return true;
        }
        if (group.empty() || group.size() > 4)
            return false;
        uint16_t value = 0;
        for (char c : group) {
            const int digit = HexValue(c);
            if (digit < 0)
                return false;
            value = static_cast<uint16_t>(value << 4 | digit);
        }
        groups.push_back(value);
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool ParseIpv6(const std::string& text, IpAddress& address)
{
    address = IpAddress();
    address.v6 = true;
    const size_t gap = text.find("::");
    std::vector<uint16_t> head, tail;
    if (gap == std::string::npos) {
        if (!ParseIpv6Groups(text, head) || head.size() != 8)
            return false;
    } else if (text.find("::", gap + 1) != std::string::npos || text.find('.') < gap ||
               !ParseIpv6Groups(text.substr(0, gap), head) ||
               !ParseIpv6Groups(text.substr(gap + 2), tail) || head.size() + tail.size() > 7) {
        return false;
    }
    for (size_t i = 0; i < head.size(); ++i) {
        address.bytes[2 * i] = static_cast<uint8_t>(head[i] >> 8);
        address.bytes[2 * i + 1] = static_cast<uint8_t>(head[i]);
    }
    for (size_t i = 0, at = 8 - tail.size(); i < tail.size(); ++i, ++at) {
        address.bytes[2 * at] = static_cast<uint8_t>(tail[i] >> 8);
        address.bytes[2 * at + 1] = static_cast<uint8_t>(tail[i]);
    }
    return true;
}


// The host as probed: a wildcard or absent host means this machine. An
// IPv6 literal may come in brackets (a URL's form); a bracket without a
// valid literal inside is malformed, not a name.
HealthAddressParse ResolveHost(const std::string& host, IpAddress& address)
{
    if (host.empty() || (host.size() == 9 && StartsWithNoCase(host, "localhost"))) {
        address = kLoopbackIpv4;
        return HealthAddressParse::kAddress;
    }
    const bool bracketed = host.front() == '[';
    if (bracketed && (host.size() < 2 || host.back() != ']'))
        return HealthAddressParse::kMalformed;
    const std::string literal = bracketed ? host.substr(1, host.size() - 2) : host;
    if (!ParseIpAddress(literal, address) || (bracketed && !address.v6))
        return bracketed ? HealthAddressParse::kMalformed : HealthAddressParse::kHostName;
    if (IsUnspecified(address)) {
        if (!address.v6) {
            address = kLoopbackIpv4;
        } else {
            address = IpAddress();
            address.v6 = true;
            address.bytes[15] = 1;
        }
    }
    return HealthAddressParse::kAddress;
}

void Finish(HealthAddress& address, const std::string& path)
{
    const std::string host = IpAddressText(address.ip);
    address.hostHeader = (address.ip.v6 ? '[' + host + ']' : host) + ':' + std::to_string(address.port);
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

bool ParseIpAddress(const std::string& text, IpAddress& address)
{
    return text.find(':') != std::string::npos ? ParseIpv6(text, address) : ParseIpv4(text, address);
}

std::string IpAddressText(const IpAddress& address)
{
    if (!address.v6)
        return std::to_string(address.bytes[0]) + '.' + std::to_string(address.bytes[1]) + '.' +
               std::to_string(address.bytes[2]) + '.' + std::to_string(address.bytes[3]);
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<uint16_t>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
    // The first longest run of two or more zero groups becomes "::".
    int runStart = -1, runLength = 0;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > runLength && j - i >= 2) {
            runStart = i;
            runLength = j - i;
        }
        i = j > i ? j : i + 1;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text += "::";
            i += runLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const int digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || !leading || shift == 0) {
                text += kHex[digit];
                leading = false;
            }
        }
    }
    return text;
}

bool IsUnspecified(const IpAddress& address)
{
    for (size_t i = 0; i < (address.v6 ? 16u : 4u); ++i)
        if (address.bytes[i] != 0)
            return false;
    return true;
}

bool IsLoopback(const IpAddress& address)
{
    if (!address.v6)
        return address.bytes[0] == 127;
    for (int i = 0; i < 15; ++i)
        if (address.bytes[i] != 0)
            return false;
    return address.bytes[15] == 1;
}

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
        if (authority.find(':') != colon && authority.front() != '[')
            return HealthAddressParse::kMalformed;  // an IPv6 literal needs its brackets
        uint32_t port = 0;
        if (!ParseNumber(authority.substr(colon + 1), 65535, port))
            return HealthAddressParse::kMalformed;
        address.port = static_cast<uint16_t>(port);
        host = authority.substr(0, colon);
    }
    const HealthAddressParse hostParse = ResolveHost(host, address.ip);
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
    const HealthAddressParse hostParse = ResolveHost(host != nullptr ? *host : std::string(), address.ip);
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
            return (data[i] == ' ' || data[i] == '\r' || data[i] == '\n') && status >= 100 ? status : kNotHttp;
        if (!IsDigit(data[i]))
            return kNotHttp;
        status = status * 10 + (data[i] - '0');
    }
    return kNotHttp;
}
