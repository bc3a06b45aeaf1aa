// Text at the edge of the ANSI calls: conversion to and from the system's
// ANSI code page, and the UTF-16 bridge for the wide calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace pellory {

// Characters that the code page lacks become its default character ("?").
std::string ToAnsi(TextView text);
Text FromAnsi(std::string_view bytes);

// The wide-character view of a text; wchar_t is 16 bits on Windows.
inline const wchar_t* WidePtr(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline Text FromWide(const wchar_t* text, size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace pellory
