// The server and stop command lines from fuzzed parts, compared with the
// same lines joined here piece by piece, and the install-path rules on
// buffers of exactly the path's size.
#include <cwchar>
#include <memory>

#include "fuzz/fuzz_common.h"
#include "launcher/command_line.h"

namespace {

bool EndsWith(const std::wstring& s, const std::wstring& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::wstring Text(const StringBuffer& b)
{
    FUZZ_CHECK(b.getText()[b.length()] == L'\0');
    return std::wstring(b.getText(), b.length());
}

void CheckServerLine(FuzzedDataProvider& p, const std::wstring& before)
{
    const std::wstring java = fuzz::ConsumeWide(p, 40);
    const std::wstring install = fuzz::ConsumeWide(p, 40);
    const std::wstring jettyLog = fuzz::ConsumeWide(p, 40);
    const std::wstring appLog = fuzz::ConsumeWide(p, 40);
    const bool withMemory = p.ConsumeBool();
    const std::wstring memory = fuzz::ConsumeWide(p, 10);

    StringBuffer line;
    line.append(before.c_str());
    ComposeServerCommandLine(line, {java.c_str(), install.c_str(), jettyLog.c_str(), appLog.c_str(),
                                    withMemory ? memory.c_str() : nullptr});

    std::wstring expected = before;
    expected += L"\"" + java + L"\" -Djetty.home=\"" + install + L"\\jetty-home\" -Djetty.base=\"" + install +
                L"\\jetty-base\" -Djetty.logfile=\"" + jettyLog + L"\" -Dovmc.logfile=\"" + appLog + L"\"";
    if (withMemory)
        expected += L" -Xmx" + memory;
    expected += L" -jar \"" + install +
                L"\\jetty-home\\start.jar\" jetty.server.stopAtShutdown=true stop.port=17003 "
                L"stop.key=qmvr$gates$hub";

    const std::wstring got = Text(line);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(got.compare(0, before.size(), before) == 0);
    FUZZ_CHECK(got[before.size()] == L'"');
    FUZZ_CHECK(EndsWith(got, L"stop.key=qmvr$gates$hub"));
}

void CheckStopLine(FuzzedDataProvider& p, const std::wstring& before)
{
    const std::wstring java = fuzz::ConsumeWide(p, 40);
    const std::wstring install = fuzz::ConsumeWide(p, 40);
    StringBuffer line;
    line.append(before.c_str());
    ComposeStopCommandLine(line, java.c_str(), install.c_str());

    const std::wstring expected = before + L"\"" + java + L"\" -jar \"" + install +
                                  L"\\jetty-home\\start.jar\" --stop stop.port=17003 stop.key=qmvr$gates$hub "
                                  L"stop.wait=20";
    const std::wstring got = Text(line);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(got[before.size()] == L'"');
    FUZZ_CHECK(EndsWith(got, L"stop.wait=20"));
}

// Backslashes are what the rules act on, so make them common.
std::wstring ConsumePath(FuzzedDataProvider& p)
{
    std::wstring path = fuzz::ConsumeWide(p, 24);
    for (wchar_t& c : path)
        if (c == L'/' || c == L'|')
            c = L'\\';
    return path;
}

void CheckPathRules(FuzzedDataProvider& p)
{
    const std::wstring path = ConsumePath(p);
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[path.size() + 1]);
    wmemcpy(buffer.get(), path.c_str(), path.size() + 1);

    RemoveTrailingBackslash(buffer.get());
    std::wstring expected = path;
    if (!expected.empty() && expected.back() == L'\\')
        expected.pop_back();
    FUZZ_CHECK(buffer.get() == expected);

    wmemcpy(buffer.get(), path.c_str(), path.size() + 1);
    RemoveLastComponent(buffer.get());
    const size_t last = path.rfind(L'\\');
    FUZZ_CHECK(buffer.get() == (last == std::wstring::npos ? path : path.substr(0, last)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider p(data, size);
    // The composers append, so sometimes start from text already there.
    const std::wstring before = p.ConsumeBool() ? fuzz::ConsumeWide(p, 8) : std::wstring();
    CheckServerLine(p, before);
    CheckStopLine(p, before);
    CheckPathRules(p);
    return 0;
}
