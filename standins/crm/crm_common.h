// What both stand-in CRM applications (the simulated desktop's and the
// Windows program) share: the address book's name and the way journal
// lines are written, so tests read one format.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "platform/variant.h"

namespace pellory::standin {

// The last part of a database path, which names the address book.
Text AddressBookName(TextView path);

// "text" in double quotes, as UTF-8.
std::string Quote(TextView text);

// An argument as a journal line shows it: "text" quoted, True/False, Null,
// <omitted>, <empty>, <object>, <date>, numbers plainly.
std::string Describe(const Variant& value);

// A member call as a journal line shows it: `Object.Member(arg, ...)`. The
// password that OpenDatabase is given (its fifth argument) is written
// "****", as the trace log masks passwords.
std::string DescribeCall(std::string_view object, TextView member, std::span<const Variant> args);

// A call's failure for the journal: `description` with every occurrence of
// the call's password (of three characters or more) written as ****.
std::string DescribeFailure(TextView member, std::span<const Variant> args, TextView description);

// A window message by name: "WM_COMMAND 10211", "WM_ACTIVATE 1", "WM_CLOSE",
// a second parameter other than 0 in brackets; others by number.
std::string MessageName(unsigned message, uintptr_t wparam, intptr_t lparam);

}  // namespace pellory::standin
