// ODBC connect strings: writing attribute values safely, reading them back,
// and keeping passwords out of anything written to a log or a message.
// Portable text handling only; no driver manager is involved.
#pragma once

#include <vector>

#include "platform/text.h"

namespace pellory {

// An attribute value as a connect string must hold it: values with ";",
// "{" or "}" or with leading or trailing blanks are braced, "}" doubled;
// every other value comes back unchanged.
Text ConnectValue(TextView value);

struct ConnectAttribute {
  Text key;
  Text value;
};

// The "key=value" pairs of a connect string, braced values unwrapped.
// Pieces without "=" are skipped.
std::vector<ConnectAttribute> ParseConnectString(TextView connect);

// The attributes of a data source as a registration gives them: one
// "key=value" a line, lines ending in a carriage return (a line feed after
// it is dropped), values kept as they are. A text without line breaks that
// holds ";" is read as a connect string instead. Pieces without "=" or
// without a key are skipped.
std::vector<ConnectAttribute> ParseAttributeLines(TextView attributes);

// The value of `key` (without regard to case) in a connect string.
bool FindConnectAttribute(TextView connect, TextView key, Text* value);

// The connect string without a leading "ODBC;" (the DAO and RDO prefix).
TextView StripOdbcPrefix(TextView connect);

// Whether the connect string names its source (DSN, DRIVER or FILEDSN).
bool NamesDataSource(TextView connect);

// `text` with the value of every PWD= or PASSWORD= attribute (any case,
// braced or not) replaced by "****", and every literal occurrence of
// `secret` (the password in use, when it is at least kMinMaskedSecret
// characters long) as well.
inline constexpr size_t kMinMaskedSecret = 3;
Text MaskPasswords(TextView text, TextView secret = TextView());

}  // namespace pellory
