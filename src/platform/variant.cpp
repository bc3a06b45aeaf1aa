#include "platform/variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/failure.h"
#include "platform/regional.h"

namespace pellory {
namespace {

[[noreturn]] void TypeMismatch() { throw Failure(u"Type mismatch", 13); }
[[noreturn]] void Overflow() { throw Failure(u"Overflow", 6); }
[[noreturn]] void InvalidNull() { throw Failure(u"Invalid use of Null", 94); }

Text Ascii(const std::string& s) { return Text(s.begin(), s.end()); }

// Shortest text of at most `max_digits` significant digits that reads back
// as `value` once narrowed by `same`: plain notation while the decimal
// exponent lies between -5 and max_digits, scientific ("1.5E+20") beyond.
template <typename Same>
std::string ShortestNumber(double value, int max_digits, Same same) {
  char buf[64];
  int p = 1;
  for (; p < max_digits; ++p) {
    std::snprintf(buf, sizeof buf, "%.*e", p - 1, value);
    if (same(std::strtod(buf, nullptr))) break;
  }
  std::snprintf(buf, sizeof buf, "%.*e", p - 1, value);
  std::string text = buf;
  const bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t e_pos = text.find('e');
  const int exponent = std::atoi(text.c_str() + e_pos + 1);
  std::string digits;
  for (size_t i = 0; i < e_pos; ++i) {
    if (text[i] != '.') digits += text[i];
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (exponent > -5 && exponent < max_digits) {
    if (exponent >= 0) {
      while (static_cast<int>(digits.size()) <= exponent) digits += '0';
      out = digits.substr(0, exponent + 1);
      if (static_cast<int>(digits.size()) > exponent + 1) out += "." + digits.substr(exponent + 1);
    } else {
      out = "0." + std::string(-exponent - 1, '0') + digits;
    }
  } else {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exp_buf[16];
    std::snprintf(exp_buf, sizeof exp_buf, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exp_buf;
  }
  if (out == "0") return out;
  return negative ? "-" + out : out;
}

// Splits a 96-bit magnitude into decimal digits.
std::string DecimalDigits(const Decimal& d) {
  uint32_t limb[3] = {static_cast<uint32_t>(d.lo), static_cast<uint32_t>(d.lo >> 32), d.hi};
  std::string digits;
  while (limb[0] || limb[1] || limb[2]) {
    uint64_t rem = 0;
    for (int k = 2; k >= 0; --k) {
      uint64_t cur = (rem << 32) | limb[k];
      limb[k] = static_cast<uint32_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + rem));
  }
  return digits.empty() ? "0" : digits;
}

// Reads a text that is wholly a number (blanks around it allowed).
std::optional<double> StrictNumber(TextView text) {
  std::string s = ToUtf8(Trim(text));
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return std::nullopt;
  if (s.find_first_of("xXpP") != std::string::npos) return std::nullopt;  // no hex floats
  return v;
}

}  // namespace

double DecimalToDouble(const Decimal& d) {
  double v = static_cast<double>(d.hi) * 18446744073709551616.0 + static_cast<double>(d.lo);
  v /= std::pow(10.0, d.scale);
  return d.negative ? -v : v;
}

bool Variant::is_number() const {
  switch (kind()) {
    case Kind::kInt16:
    case Kind::kInt32:
    case Kind::kSingle:
    case Kind::kDouble:
    case Kind::kCurrency:
    case Kind::kDecimal:
    case Kind::kByte:
      return true;
    default:
      return false;
  }
}

std::optional<double> Variant::number() const {
  switch (kind()) {
    case Kind::kBool:
      return boolean() ? -1.0 : 0.0;
    case Kind::kInt16:
      return std::get<int16_t>(value_);
    case Kind::kInt32:
      return std::get<int32_t>(value_);
    case Kind::kSingle:
      return std::get<float>(value_);
    case Kind::kDouble:
      return std::get<double>(value_);
    case Kind::kCurrency:
      return static_cast<double>(currency().scaled) / 10000.0;
    case Kind::kDecimal:
      return DecimalToDouble(std::get<Decimal>(value_));
    case Kind::kByte:
      return std::get<uint8_t>(value_);
    default:
      return std::nullopt;
  }
}

Text NumberText(const Variant& v, char16_t sep) {
  std::string s;
  switch (v.kind()) {
    case Variant::Kind::kInt16:
    case Variant::Kind::kInt32:
    case Variant::Kind::kByte:
      return IntegerText(static_cast<int64_t>(*v.number()));
    case Variant::Kind::kSingle: {
      float f = static_cast<float>(*v.number());
      s = ShortestNumber(f, 7, [f](double back) { return static_cast<float>(back) == f; });
      break;
    }
    case Variant::Kind::kDouble: {
      double d = *v.number();
      s = ShortestNumber(d, 15, [d](double back) { return back == d; });
      break;
    }
    case Variant::Kind::kCurrency:
    case Variant::Kind::kDecimal: {
      bool negative;
      std::string digits;
      int scale;
      if (v.kind() == Variant::Kind::kCurrency) {
        int64_t scaled = v.currency().scaled;
        negative = scaled < 0;
        uint64_t mag = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
        digits = std::to_string(mag);
        scale = 4;
      } else {
        const Decimal& d = v.decimal();
        negative = d.negative;
        digits = DecimalDigits(d);
        scale = d.scale > 28 ? 28 : d.scale;
      }
      while (static_cast<int>(digits.size()) <= scale) digits.insert(digits.begin(), '0');
      std::string whole = digits.substr(0, digits.size() - scale);
      std::string frac = digits.substr(digits.size() - scale);
      while (!frac.empty() && frac.back() == '0') frac.pop_back();
      s = (negative ? "-" : "") + whole + (frac.empty() ? "" : "." + frac);
      break;
    }
    default:
      TypeMismatch();
  }
  Text out = Ascii(s);
  for (auto& c : out) {
    if (c == u'.') c = sep;
  }
  return out;
}

Text Variant::ToText(const Regional* regional) const {
  switch (kind()) {
    case Kind::kEmpty:
    case Kind::kMissing:
      return Text();
    case Kind::kNull:
      InvalidNull();
    case Kind::kText:
      return text();
    case Kind::kBool:
      return boolean() ? u"True" : u"False";
    case Kind::kDate:
      if (!regional) TypeMismatch();
      return FormatDateTime(*regional, date());
    case Kind::kObject:
      TypeMismatch();
    default:
      return NumberText(*this, regional ? regional->DecimalSeparator() : u'.');
  }
}

double Variant::ToDouble() const {
  if (auto n = number()) return *n;
  switch (kind()) {
    case Kind::kEmpty:
      return 0;
    case Kind::kNull:
      InvalidNull();
    case Kind::kDate:
      return date().days;
    case Kind::kText:
      if (auto n = StrictNumber(text())) return *n;
      TypeMismatch();
    default:
      TypeMismatch();
  }
}

bool Variant::ToBool() const {
  if (kind() == Kind::kBool) return boolean();
  if (auto n = number()) return *n != 0;
  switch (kind()) {
    case Kind::kEmpty:
      return false;
    case Kind::kNull:
      InvalidNull();
    case Kind::kText: {
      Text t = Trim(text());
      if (EqualsNoCase(t, u"True")) return true;
      if (EqualsNoCase(t, u"False")) return false;
      if (auto n = StrictNumber(t)) return *n != 0;
      TypeMismatch();
    }
    default:
      TypeMismatch();
  }
}

int32_t Variant::ToInt32() const {
  double d = ToDouble();
  double r = std::nearbyint(d);  // the default rounding mode rounds halves to even
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) Overflow();
  return static_cast<int32_t>(r);
}

int16_t Variant::ToInt16() const {
  int32_t v = ToInt32();
  if (v < -32768 || v > 32767) Overflow();
  return static_cast<int16_t>(v);
}

}  // namespace pellory
