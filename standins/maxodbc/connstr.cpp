#include "connstr.h"

#include "text.h"

namespace maxodbc {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::vector<ConnectAttribute>> ParseConnectString(std::string_view text) {
  std::vector<ConnectAttribute> attributes;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const std::size_t key_end = text.find_first_of("=;", i);
    if (key_end == std::string_view::npos || text[key_end] == ';') {
      // A part without "=": skipped.
      i = key_end == std::string_view::npos ? n : key_end + 1;
      continue;
    }
    ConnectAttribute attribute;
    attribute.key = std::string(Trim(text.substr(i, key_end - i)));
    i = key_end + 1;
    std::size_t value_start = i;
    while (value_start < n && (text[value_start] == ' ' || text[value_start] == '\t')) {
      ++value_start;
    }
    if (value_start < n && text[value_start] == '{') {
      std::size_t j = value_start + 1;
      bool closed = false;
      while (j < n) {
        if (text[j] == '}') {
          if (j + 1 < n && text[j + 1] == '}') {
            attribute.value.push_back('}');
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        attribute.value.push_back(text[j]);
        ++j;
      }
      if (!closed) return std::nullopt;
      const std::size_t next = text.find(';', j);
      i = next == std::string_view::npos ? n : next + 1;
    } else {
      const std::size_t next = text.find(';', i);
      const std::size_t end = next == std::string_view::npos ? n : next;
      attribute.value = std::string(text.substr(i, end - i));
      i = next == std::string_view::npos ? n : next + 1;
    }
    if (!attribute.key.empty()) attributes.push_back(std::move(attribute));
  }
  return attributes;
}

std::optional<std::string> FindAttribute(const std::vector<ConnectAttribute>& attributes,
                                         std::string_view key) {
  for (const auto& attribute : attributes) {
    if (EqualsNoCase(attribute.key, key)) return attribute.value;
  }
  return std::nullopt;
}

std::string FormatAttribute(std::string_view key, std::string_view value) {
  std::string out(key);
  out += '=';
  const bool braces = value.find_first_of(";{}=") != std::string_view::npos ||
                      (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!braces) {
    out += value;
    return out;
  }
  out += '{';
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

}  // namespace maxodbc
