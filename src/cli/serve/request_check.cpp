#include "cli/serve/request_check.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>

namespace pellory::cli::serve {
namespace {

size_t CodePoints(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

// Checks every parameter against `known`; fills `values` with the given ones.
std::string CheckParams(const Params& params, const std::set<std::string>& known,
                        std::map<std::string, std::string>* values) {
  for (const auto& [name, value] : params) {
    if (!known.count(name)) {
      return IsValidUtf8(name) && name.size() <= kMaxParamChars ? "unknown parameter '" + name + "'"
                                                                : "unknown parameter";
    }
    if (!values->emplace(name, value).second) return "'" + name + "' is given more than once";
    if (!IsValidUtf8(value)) return "'" + name + "' is not valid UTF-8";
    if (CodePoints(value) > kMaxParamChars) {
      return "'" + name + "' is longer than " + std::to_string(kMaxParamChars) + " characters";
    }
  }
  return "";
}

bool EqualsLower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;  // a continuation byte, an overlong lead, or beyond U+10FFFF
    }
    if (i + extra >= text.size()) return false;  // cut short
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string CheckLookup(const Params& params, LookupQuery* query) {
  std::map<std::string, std::string> v;
  if (std::string why = CheckParams(params, {"number", "match", "format"}, &v); !why.empty()) {
    return why;
  }
  if (!v.count("number")) return "'number' is missing";
  query->number = v["number"];
  // A "+" sent without encoding arrives as a space (the query string's
  // form encoding): a number that starts with a space and a digit had one.
  if (query->number.size() > 1 && query->number[0] == ' ' && query->number[1] >= '0' &&
      query->number[1] <= '9') {
    query->number[0] = '+';
  }
  if (auto it = v.find("match"); it != v.end()) {
    if (EqualsLower(it->second, "exact")) {
      query->match = MatchMode::kExact;
    } else if (EqualsLower(it->second, "any")) {
      query->match = MatchMode::kAny;
    } else {
      return "'match' is neither exact nor any";
    }
  }
  if (auto it = v.find("format"); it != v.end()) {
    if (it->second != "json" && it->second != "name") return "'format' is neither json nor name";
    query->name_only = it->second == "name";
  }
  return "";
}

std::string CheckSearch(const Params& params, SearchQuery* query) {
  std::map<std::string, std::string> v;
  if (std::string why = CheckParams(params, {"text", "begin", "max"}, &v); !why.empty()) {
    return why;
  }
  if (v.count("text") == v.count("begin")) return "give either 'text' or 'begin'";
  if (auto it = v.find("text"); it != v.end()) {
    if (it->second.find_first_not_of(' ') == std::string::npos) return "'text' is empty";
    query->text = it->second;
  } else {
    if (CodePoints(v["begin"]) != 1) return "'begin' must be one letter";
    query->begin = v["begin"];
  }
  if (auto it = v.find("max"); it != v.end()) {
    const std::string& s = it->second;
    int n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || n < 1 ||
        n > kMaxSearchEntries) {
      return "'max' must be a whole number from 1 to " + std::to_string(kMaxSearchEntries);
    }
    query->max = n;
  }
  return "";
}

std::string CheckNoParams(const Params& params) {
  std::map<std::string, std::string> v;
  return CheckParams(params, {}, &v);
}

bool SameToken(std::string_view given, std::string_view expected) {
  // Every byte of the longer one is visited whatever the contents.
  const size_t n = std::max(given.size(), expected.size());
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char a = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    diff |= static_cast<unsigned char>(a ^ b);
  }
  return diff == 0 && !expected.empty();
}

std::string BearerToken(std::string_view header) {
  constexpr std::string_view kScheme = "bearer ";
  if (header.size() <= kScheme.size() || !EqualsLower(header.substr(0, kScheme.size()), kScheme)) {
    return "";
  }
  std::string_view token = header.substr(kScheme.size());
  while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
  while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
  return std::string(token);
}

std::string ReadTokenFile(const std::string& path, std::string* token) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || (!std::getline(in, line) && !in.eof()) || in.bad()) {
    return path + ": cannot be read";
  }
  const char* blanks = " \t\r\n\v\f";
  const size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return path + ": the first line holds no token";
  line = line.substr(first, line.find_last_not_of(blanks) + 1 - first);
  *token = line;
  return "";
}

std::string ParseListen(const std::string& text, ListenAddress* address) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "'" + text + "' is not ADDRESS:PORT";
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  int n = -1;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), n);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || n < 0 || n > 65535) {
    return "'" + port + "' is no port number (0 to 65535)";
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    in6_addr a6;
    if (inet_pton(AF_INET6, host.c_str(), &a6) != 1) return "'" + host + "' is no IPv6 address";
  } else if (host == "localhost") {
    host = "127.0.0.1";
  } else {
    in_addr a4;
    if (inet_pton(AF_INET, host.c_str(), &a4) != 1) {
      return "'" + host + "' is no IPv4 address (write an IPv6 address in brackets: [::1]:8410)";
    }
  }
  address->host = host;
  address->port = n;
  return "";
}

bool IsLoopback(const std::string& host) {
  in_addr a4;
  if (inet_pton(AF_INET, host.c_str(), &a4) == 1) {
    return (ntohl(a4.s_addr) >> 24) == 127;
  }
  in6_addr a6;
  if (inet_pton(AF_INET6, host.c_str(), &a6) != 1) return false;
  static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(a6.s6_addr, kLoopback, 16) == 0) return true;
  return std::memcmp(a6.s6_addr, kMapped, 12) == 0 && a6.s6_addr[12] == 127;
}

}  // namespace pellory::cli::serve
