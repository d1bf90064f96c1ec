// The server and stop command lines from fuzzed parts: compared with the
// same lines joined here piece by piece, and split again by the Windows
// rules, which must give back exactly the intended arguments. Also the
// install-path rules on buffers of exactly the path's size.
#include <cwchar>
#include <memory>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "launcher/command_line.h"
#include "support/strings.h"

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

// The quoting that the composers must apply, written out independently.
std::wstring Quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// CommandLineToArgvW's and the C runtime's splitting, for lines without
// "" inside quotes (where the two differ): the program name runs to the next
// quote; after it, 2n backslashes before a quote give n and the quote
// toggles quoting, 2n+1 give n and a literal quote, others stay as they are.
std::vector<std::wstring> SplitWindows(const std::wstring& line)
{
    std::vector<std::wstring> args;
    size_t i = 0;
    std::wstring program;
    if (i < line.size() && line[i] == L'"') {
        const size_t close = line.find(L'"', 1);
        program = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        i = close == std::wstring::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t')
            program += line[i++];
    }
    args.push_back(program);
    for (;;) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t'))
            ++i;
        if (i >= line.size())
            return args;
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t'))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == L'\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == L'"') {
                arg.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1)
                    arg += L'"';
                else
                    quoted = !quoted;
                ++i;
            } else {
                arg.append(backslashes, L'\\');
                if (i < line.size() && (quoted || (line[i] != L' ' && line[i] != L'\t')))
                    arg += line[i++];
            }
        }
        args.push_back(arg);
    }
}

bool HasQuote(const std::wstring& s) { return s.find(L'"') != std::wstring::npos; }

// Path values as the launcher can get them: backslashes common, often at
// the end, where they meet the closing quote.
std::wstring ConsumePathValue(FuzzedDataProvider& p)
{
    std::wstring path = fuzz::ConsumeWide(p, 40);
    for (wchar_t& c : path)
        if (c == L'/' || c == L'|')
            c = L'\\';
    path.append(p.ConsumeIntegralInRange<size_t>(0, 3), L'\\');
    return path;
}

// -Xmx's own syntax, written apart from the product's: digits, then at
// most one unit letter.
bool IsHeapSizeModel(const std::wstring& value)
{
    const size_t digits = value.find_first_not_of(L"0123456789");
    if (digits == std::wstring::npos)
        return !value.empty();
    return digits > 0 && digits + 1 == value.size() &&
           std::wstring(L"kKmMgGtT").find(value[digits]) != std::wstring::npos;
}

void CheckServerLine(FuzzedDataProvider& p, const std::wstring& before)
{
    const std::wstring java = fuzz::ConsumeWide(p, 40);
    const std::wstring install = ConsumePathValue(p);
    const std::wstring jettyLog = ConsumePathValue(p);
    const std::wstring appLog = ConsumePathValue(p);
    const bool memoryGiven = p.ConsumeBool();
    const std::wstring memory = fuzz::ConsumeWide(p, 10);
    // Only a heap size is passed on: anything else would add options of its own.
    const bool withMemory = memoryGiven && IsHeapSizeModel(memory);
    FUZZ_CHECK(IsHeapSize(memory.c_str()) == IsHeapSizeModel(memory));

    StringBuffer line;
    line.append(before.c_str());
    ComposeServerCommandLine(line, {java.c_str(), install.c_str(), jettyLog.c_str(), appLog.c_str(),
                                    memoryGiven ? memory.c_str() : nullptr});

    std::wstring expected = before;
    expected += L"\"" + java + L"\" -Djetty.home=" + Quoted(install + L"\\jetty-home") + L" -Djetty.base=" +
                Quoted(install + L"\\jetty-base") + L" -Djetty.logfile=" + Quoted(jettyLog) + L" -Dovmc.logfile=" +
                Quoted(appLog);
    if (withMemory)
        expected += L" -Xmx" + memory;
    expected += L" -jar " + Quoted(install + L"\\jetty-home\\start.jar") +
                L" jetty.server.stopAtShutdown=true stop.port=17003 stop.key=qmvr$gates$hub";

    const std::wstring got = Text(line);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(got.compare(0, before.size(), before) == 0);
    FUZZ_CHECK(got[before.size()] == L'"');
    FUZZ_CHECK(EndsWith(got, L"stop.key=qmvr$gates$hub"));

    // Paths without a quote (the launcher refuses the others) each arrive
    // as one argument, character for character, and so does the heap size.
    if (HasQuote(java) || HasQuote(install) || HasQuote(jettyLog) || HasQuote(appLog))
        return;
    std::vector<std::wstring> intended = {java,
                                          L"-Djetty.home=" + install + L"\\jetty-home",
                                          L"-Djetty.base=" + install + L"\\jetty-base",
                                          L"-Djetty.logfile=" + jettyLog,
                                          L"-Dovmc.logfile=" + appLog};
    if (withMemory)
        intended.push_back(L"-Xmx" + memory);
    for (const wchar_t* tail : {L"-jar", L"", L"jetty.server.stopAtShutdown=true", L"stop.port=17003",
                                L"stop.key=qmvr$gates$hub"})
        intended.push_back(tail[0] != L'\0' ? std::wstring(tail) : install + L"\\jetty-home\\start.jar");
    FUZZ_CHECK(SplitWindows(got.substr(before.size())) == intended);
}

void CheckStopLine(FuzzedDataProvider& p, const std::wstring& before)
{
    const std::wstring java = fuzz::ConsumeWide(p, 40);
    const std::wstring install = ConsumePathValue(p);
    StringBuffer line;
    line.append(before.c_str());
    ComposeStopCommandLine(line, java.c_str(), install.c_str());

    const std::wstring expected = before + L"\"" + java + L"\" -jar " + Quoted(install + L"\\jetty-home\\start.jar") +
                                  L" --stop stop.port=17003 stop.key=qmvr$gates$hub stop.wait=20";
    const std::wstring got = Text(line);
    FUZZ_CHECK(got == expected);
    FUZZ_CHECK(got[before.size()] == L'"');
    FUZZ_CHECK(EndsWith(got, L"stop.wait=20"));
    if (HasQuote(java) || HasQuote(install))
        return;
    const std::vector<std::wstring> intended = {java, L"-jar", install + L"\\jetty-home\\start.jar", L"--stop",
                                                L"stop.port=17003", L"stop.key=qmvr$gates$hub", L"stop.wait=20"};
    FUZZ_CHECK(SplitWindows(got.substr(before.size())) == intended);
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
