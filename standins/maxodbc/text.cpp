#include "text.h"

#include <algorithm>

namespace maxodbc {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::size_t WideLength(const SQLWCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return 0;
  if (length >= 0) return static_cast<std::size_t>(length);
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

std::string FromWide(const SQLWCHAR* text, SQLINTEGER length) {
  const std::size_t n = WideLength(text, length);
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    cp = lead & 0x1F;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    cp = lead & 0x0F;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    cp = lead & 0x07;
    min = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  std::size_t i = pos + 1;
  for (int k = 0; k < extra; ++k, ++i) {
    if (i >= text.size() || (byte(i) & 0xC0) != 0x80) {
      pos = i;
      return kReplacement;
    }
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  pos = i;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    if (lead < 0x80) {  // fast path for ASCII
      ++pos;
      ++units;
      continue;
    }
    units += DecodeUtf8(utf8, pos) > 0xFFFF ? 2 : 1;
  }
  return units;
}

std::size_t ConvertToUtf16(std::string_view utf8, std::size_t& pos, std::size_t& unit,
                           std::size_t skip_units, SQLWCHAR* out, std::size_t max_units) {
  std::size_t written = 0;
  while (pos < utf8.size() && written < max_units) {
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    if (lead < 0x80) {  // fast path for ASCII
      if (unit >= skip_units) out[written++] = lead;
      ++pos;
      ++unit;
      continue;
    }
    const std::size_t start_pos = pos;
    const std::size_t start_unit = unit;
    const char32_t cp = DecodeUtf8(utf8, pos);
    SQLWCHAR units[2];
    std::size_t count = 1;
    if (cp > 0xFFFF) {
      units[0] = static_cast<SQLWCHAR>(0xD800 + ((cp - 0x10000) >> 10));
      units[1] = static_cast<SQLWCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      count = 2;
    } else {
      units[0] = static_cast<SQLWCHAR>(cp);
    }
    for (std::size_t k = 0; k < count; ++k) {
      if (start_unit + k >= skip_units && written < max_units) out[written++] = units[k];
    }
    if (start_unit + count <= skip_units + written) {
      unit = start_unit + count;
    } else {
      // Only part of a surrogate pair fitted: resume at this code point next time.
      pos = start_pos;
      unit = start_unit;
      break;
    }
  }
  return written;
}

bool CopyOutWide(std::string_view utf8, SQLWCHAR* out, std::size_t capacity,
                 std::size_t* full_length) {
  const std::size_t total = Utf16Length(utf8);
  if (full_length != nullptr) *full_length = total;
  if (out == nullptr || capacity == 0) return total > 0;
  std::size_t pos = 0;
  std::size_t unit = 0;
  const std::size_t written = ConvertToUtf16(utf8, pos, unit, 0, out, capacity - 1);
  out[written] = 0;
  return written < total;
}

char32_t UpperCase(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  if (cp >= 0x100 && cp <= 0x17F) {
    if (cp == 0x131) return 'I';
    if (cp == 0x17F) return 'S';
    if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) {
      return (cp % 2 == 1) ? cp - 1 : cp;
    }
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
      return (cp % 2 == 0) ? cp - 1 : cp;
    }
    return cp;
  }
  if (cp >= 0x3B1 && cp <= 0x3C9) return cp == 0x3C2 ? 0x3A3 : cp - 0x20;
  if (cp == 0x3AC) return 0x386;
  if (cp >= 0x3AD && cp <= 0x3AF) return cp - 0x25;
  if (cp == 0x3CC) return 0x38C;
  if (cp == 0x3CD || cp == 0x3CE) return cp - 0x3F;
  if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
  return cp;
}

char32_t LowerCase(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  if (cp == 0x178) return 0xFF;
  if (cp >= 0x100 && cp <= 0x17F) {
    if (cp == 0x130) return 'i';
    if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) {
      return (cp % 2 == 0) ? cp + 1 : cp;
    }
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
      return (cp % 2 == 1) ? cp + 1 : cp;
    }
    return cp;
  }
  if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 0x20;
  if (cp == 0x386) return 0x3AC;
  if (cp >= 0x388 && cp <= 0x38A) return cp + 0x25;
  if (cp == 0x38C) return 0x3CC;
  if (cp == 0x38E || cp == 0x38F) return cp + 0x3F;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
  if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
  return cp;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return upper(x) == upper(y);
  });
}

}  // namespace maxodbc
