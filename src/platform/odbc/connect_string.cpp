#include "platform/odbc/connect_string.h"

namespace pellory {
namespace {

constexpr char16_t kMask[] = u"****";

bool IsWordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         c == u'_';
}

// End of a braced value that starts at `open` (the "{"): the position just
// past its closing "}", "}}" standing for one "}". `value` gets the content.
size_t BracedEnd(TextView text, size_t open, Text* value) {
  size_t i = open + 1;
  while (i < text.size()) {
    if (text[i] == u'}') {
      if (i + 1 < text.size() && text[i + 1] == u'}') {
        if (value) value->push_back(u'}');
        i += 2;
        continue;
      }
      return i + 1;
    }
    if (value) value->push_back(text[i]);
    ++i;
  }
  return text.size();
}

// Length of a password keyword ("PWD" or "PASSWORD") followed by optional
// blanks and "=" at `pos`; 0 when there is none.
size_t PasswordKeyLength(TextView text, size_t pos) {
  if (pos > 0 && IsWordChar(text[pos - 1])) return 0;
  for (TextView key : {TextView(u"PASSWORD"), TextView(u"PWD")}) {
    if (text.size() - pos < key.size()) continue;
    if (!EqualsNoCase(text.substr(pos, key.size()), key)) continue;
    size_t i = pos + key.size();
    while (i < text.size() && text[i] == u' ') ++i;
    if (i < text.size() && text[i] == u'=') return i + 1 - pos;
  }
  return 0;
}

}  // namespace

Text ConnectValue(TextView value) {
  bool brace = !value.empty() && (value.front() == u' ' || value.back() == u' ');
  for (char16_t c : value) {
    if (c == u';' || c == u'{' || c == u'}') brace = true;
  }
  if (!brace) return Text(value);
  Text out;
  out.reserve(value.size() + 4);
  out += u'{';
  for (char16_t c : value) {
    out += c;
    if (c == u'}') out += u'}';
  }
  out += u'}';
  return out;
}

std::vector<ConnectAttribute> ParseConnectString(TextView connect) {
  std::vector<ConnectAttribute> out;
  size_t i = 0;
  while (i < connect.size()) {
    size_t eq = i;
    while (eq < connect.size() && connect[eq] != u'=' && connect[eq] != u';') ++eq;
    if (eq >= connect.size() || connect[eq] == u';') {
      i = eq + 1;
      continue;
    }
    ConnectAttribute a;
    a.key = Trim(connect.substr(i, eq - i));
    size_t v = eq + 1;
    size_t end;
    if (v < connect.size() && connect[v] == u'{') {
      end = BracedEnd(connect, v, &a.value);
      while (end < connect.size() && connect[end] != u';') ++end;
    } else {
      end = v;
      while (end < connect.size() && connect[end] != u';') ++end;
      a.value = Text(connect.substr(v, end - v));
    }
    if (!a.key.empty()) out.push_back(std::move(a));
    i = end + 1;
  }
  return out;
}

std::vector<ConnectAttribute> ParseAttributeLines(TextView attributes) {
  if (attributes.find(u'\r') == TextView::npos && attributes.find(u';') != TextView::npos) {
    return ParseConnectString(attributes);
  }
  std::vector<ConnectAttribute> out;
  size_t start = 0;
  while (start <= attributes.size()) {
    size_t end = attributes.find(u'\r', start);
    if (end == TextView::npos) end = attributes.size();
    TextView piece = attributes.substr(start, end - start);
    if (!piece.empty() && piece.front() == u'\n') piece.remove_prefix(1);
    size_t eq = piece.find(u'=');
    if (eq != TextView::npos) {
      ConnectAttribute a{Trim(piece.substr(0, eq)), Text(piece.substr(eq + 1))};
      if (!a.key.empty()) out.push_back(std::move(a));
    }
    start = end + 1;
  }
  return out;
}

bool FindConnectAttribute(TextView connect, TextView key, Text* value) {
  for (ConnectAttribute& a : ParseConnectString(connect)) {
    if (EqualsNoCase(a.key, key)) {
      if (value) *value = std::move(a.value);
      return true;
    }
  }
  return false;
}

TextView StripOdbcPrefix(TextView connect) {
  if (connect.size() >= 5 && EqualsNoCase(connect.substr(0, 5), u"ODBC;")) {
    return connect.substr(5);
  }
  if (EqualsNoCase(connect, u"ODBC")) return TextView();
  return connect;
}

bool NamesDataSource(TextView connect) {
  for (const ConnectAttribute& a : ParseConnectString(connect)) {
    if (EqualsNoCase(a.key, u"DSN") || EqualsNoCase(a.key, u"DRIVER") ||
        EqualsNoCase(a.key, u"FILEDSN")) {
      return true;
    }
  }
  return false;
}

Text MaskPasswords(TextView text, TextView secret) {
  Text out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t key = PasswordKeyLength(text, i);
    if (key == 0) {
      out += text[i++];
      continue;
    }
    out.append(text.substr(i, key));
    size_t v = i + key;
    while (v < text.size() && text[v] == u' ') ++v;
    size_t end;
    if (v < text.size() && text[v] == u'{') {
      end = BracedEnd(text, v, nullptr);
    } else {
      end = v;
      while (end < text.size() && text[end] != u';') ++end;
    }
    out += kMask;
    i = end;
  }
  if (secret.size() >= kMinMaskedSecret) {
    for (size_t p = out.find(secret); p != Text::npos; p = out.find(secret, p + 4)) {
      out.replace(p, secret.size(), kMask);
    }
  }
  return out;
}

}  // namespace pellory
