// What `pellory serve` checks before anything reaches a Session: the query
// parameters of each endpoint, the bearer token and the listen address.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace pellory::cli::serve {

// Query parameters as the HTTP server decodes them (httplib::Params).
using Params = std::multimap<std::string, std::string>;

// The longest parameter value taken, in characters.
inline constexpr size_t kMaxParamChars = 256;
// The most entries a search may ask for.
inline constexpr int kMaxSearchEntries = 200;
inline constexpr int kDefaultSearchEntries = 20;

enum class MatchMode { kStored, kExact, kAny };

struct LookupQuery {
  std::string number;
  MatchMode match = MatchMode::kStored;
  bool name_only = false;  // format=name
};

struct SearchQuery {
  std::string text;   // words of the name or the company, or
  std::string begin;  // the first letter of the name
  int max = kDefaultSearchEntries;
};

// Each returns why the request is bad, or the empty text when it is fine.
// Every parameter must be known, given once, valid UTF-8 and at most
// kMaxParamChars characters long.
std::string CheckLookup(const Params& params, LookupQuery* query);
std::string CheckSearch(const Params& params, SearchQuery* query);
std::string CheckNoParams(const Params& params);

bool IsValidUtf8(std::string_view text);

// Compares in a time that depends on the lengths only, not on where the
// two differ.
bool SameToken(std::string_view given, std::string_view expected);

// The token of an Authorization header "Bearer <token>"; empty otherwise.
std::string BearerToken(std::string_view header);

// The first line of `path`, blanks around it removed. Returns why it cannot
// be used (unreadable, empty), or the empty text.
std::string ReadTokenFile(const std::string& path, std::string* token);

struct ListenAddress {
  std::string host;  // a numeric IPv4 or IPv6 address
  int port = 0;
};

// "ADDR:PORT", "[IPv6]:PORT" or "localhost:PORT". Returns why it is no
// such address, or the empty text.
std::string ParseListen(const std::string& text, ListenAddress* address);

// 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104.
bool IsLoopback(const std::string& host);

}  // namespace pellory::cli::serve
