// The four text conversions: the ANSI code page and UTF-8, to and from UTF-16; and the conversion
// from UTF-8 that tells UTF-8 from other bytes.
#pragma once

#include <string>

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// Utf8ToWide of `text` (up to its zero byte) appended to `wide`: for a reply's many short texts,
// without a copy of each.
void AppendUtf8AsWide(const char* text, std::wstring* wide);

// UTF-8 to UTF-16 only for well-formed UTF-8: false, and `wide` untouched, for any other bytes.
bool TryUtf8ToWide(const std::string& text, std::wstring* wide);
