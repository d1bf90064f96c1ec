// Formatted text and the console.
#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting by the C runtime: msvcrt's _vscwprintf and
// _vsnwprintf, which mingw-w64 leaves to msvcrt even with
// __USE_MINGW_ANSI_STDIO, so %s is wide and %hs narrow. msvcrt reads %hs
// through the C locale: decode UTF-8 first (NarrowAsWide) and pass it as %s.
void FormatWideV(std::wstring& out, const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);

// Console output formatted as above, written whole: UTF-16 to a console,
// UTF-8 to a file or pipe.
void ConsolePrint(const wchar_t* format, ...);

// A child's output as text, each line on its own: UTF-8 where the line is
// valid UTF-8 (but for a character cut off at its end), otherwise the system's ANSI code page, which Java writes its
// console streams in when they are not a console. Lines are decoded one by
// one because a cp1252 line and a UTF-8 line may follow each other.
std::wstring OutputLineText(const char* text, size_t size);
std::wstring OutputLinesText(const std::string& lines);
