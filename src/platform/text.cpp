#include "platform/text.h"

#include <cmath>
#include <cstdlib>

namespace pellory {
namespace {

// The code point at text[i]: a surrogate pair joined (i then stands on its
// second unit), any other unit as it is.
uint32_t CodePointAt(TextView text, size_t& i) {
  uint32_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    ++i;
  }
  return c;
}

}  // namespace

std::string ToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = CodePointAt(text, i);
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Text FromUtf8(std::string_view s) {
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (extra == 1 && c < 0x80) ||
        (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += extra + 1;
  }
  return out;
}

std::u32string ToUtf32(TextView text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) out.push_back(CodePointAt(text, i));
  return out;
}

Text FromUtf32(std::u32string_view text) {
  Text out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

char16_t UpperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs capital/small, with an odd stretch in the middle.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    }
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if (c == 0x138 || c == 0x149 || c == 0x130) return c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

Text UpperCase(TextView text) {
  Text out(text);
  for (auto& c : out) c = UpperChar(c);
  return out;
}

bool EqualsNoCase(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  }
  return true;
}

size_t FindNoCase(TextView hay, TextView needle, size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : TextView::npos;
  if (hay.size() < needle.size()) return TextView::npos;
  const char16_t first = UpperChar(needle[0]);
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (UpperChar(hay[i]) != first) continue;
    size_t k = 1;
    while (k < needle.size() && UpperChar(hay[i + k]) == UpperChar(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return TextView::npos;
}

TextView TrimView(TextView text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  return text.substr(b, e - b);
}

Text Trim(TextView text) { return Text(TrimView(text)); }

double LeadingNumber(TextView text) {
  std::string digits;
  size_t i = 0;
  auto skip = [&] {
    while (i < text.size() &&
           (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r')) {
      ++i;
    }
  };
  skip();
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    digits += static_cast<char>(text[i++]);
    skip();
  }
  bool any = false, dot = false;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      digits += static_cast<char>(c);
      any = true;
    } else if (c == u'.' && !dot) {
      digits += '.';
      dot = true;
    } else if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
      continue;
    } else {
      break;
    }
  }
  if (!any) return 0;
  if (i < text.size() &&
      (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
    std::string exp = "e";
    size_t j = i + 1;
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
      exp += static_cast<char>(text[j++]);
    bool exp_digits = false;
    while (j < text.size() && text[j] >= u'0' && text[j] <= u'9') {
      exp += static_cast<char>(text[j++]);
      exp_digits = true;
    }
    if (exp_digits) digits += exp;
  }
  double v = std::strtod(digits.c_str(), nullptr);
  return std::isfinite(v) ? v : 0;
}

Text IntegerText(int64_t value) {
  std::string s = std::to_string(value);
  return Text(s.begin(), s.end());
}

}  // namespace pellory
