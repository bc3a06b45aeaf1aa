// UTF-16 text, the form every string takes inside the core, and the small
// text helpers that the rest of the code shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pellory {

using Text = std::u16string;
using TextView = std::u16string_view;

// Conversions at the edges (files, command line). Invalid input is replaced
// by U+FFFD rather than rejected: a trace line or a CLI argument must never
// throw.
std::string ToUtf8(TextView text);
Text FromUtf8(std::string_view utf8);

// UTF-32, for views that work in whole characters (the terminal's cells).
// A surrogate pair becomes one character; an unpaired surrogate passes
// through both ways unchanged, so a text survives the round trip. A value
// above U+10FFFF becomes U+FFFD.
std::u32string ToUtf32(TextView text);
Text FromUtf32(std::u32string_view text);

// Upper-casing of single 16-bit units: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic. Locale independent, so that record names and action
// values compare the same on every machine.
char16_t UpperChar(char16_t c);
Text UpperCase(TextView text);
bool EqualsNoCase(TextView a, TextView b);
// Position of the first occurrence of `needle` in `hay` at or after `from`,
// compared without regard to case; npos when absent.
size_t FindNoCase(TextView hay, TextView needle, size_t from = 0);

// Leading and trailing blanks (U+0020) removed, as VB's Trim does.
Text Trim(TextView text);
// The same part of `text`, without a copy.
TextView TrimView(TextView text);

// The leading-number rule: blanks, tabs and line feeds are ignored, the
// longest leading decimal number (sign, digits, one ".", exponent) is read,
// and a text that does not begin with a number gives 0.
double LeadingNumber(TextView text);

Text IntegerText(int64_t value);

}  // namespace pellory
