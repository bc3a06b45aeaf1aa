// ODBC connect strings: "key=value" attributes separated by ";"; keys compare without regard to
// case, and a value in braces "{...}" may hold ";" and "=", with "}}" standing for one "}".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maxodbc {

struct ConnectAttribute {
  std::string key;
  std::string value;
};

// Parses a connect string. Parts without "=" (such as a leading "ODBC") are skipped. Returns
// nothing when a braced value is not closed.
std::optional<std::vector<ConnectAttribute>> ParseConnectString(std::string_view text);

// The value of the first attribute with this key.
std::optional<std::string> FindAttribute(const std::vector<ConnectAttribute>& attributes,
                                         std::string_view key);

// "key=value", with the value in braces when it needs them.
std::string FormatAttribute(std::string_view key, std::string_view value);

}  // namespace maxodbc
