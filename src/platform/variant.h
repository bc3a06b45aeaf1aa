// A value of any of the kinds that travel through records, automation calls
// and the host interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "platform/object.h"
#include "platform/text.h"

namespace pellory {

class Regional;

// Fixed-point currency: the value times 10,000.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// 96-bit decimal: (hi:lo) / 10^scale, with a sign. scale is 0 to 28.
struct Decimal {
  uint64_t lo = 0;
  uint32_t hi = 0;
  uint8_t scale = 0;
  bool negative = false;
  bool operator==(const Decimal&) const = default;
};

// A date and time as days since 1899-12-30, the fraction being the time of
// day (the automation date of the host platform).
struct DateTime {
  double days = 0;
  bool operator==(const DateTime&) const = default;
};

class Variant {
 public:
  enum class Kind {
    kEmpty,    // nothing: the default of GetVar when nothing is found
    kNull,     // a database or automation null
    kMissing,  // an optional argument left out
    kText,
    kBool,
    kInt16,
    kInt32,
    kSingle,
    kDouble,
    kCurrency,
    kDecimal,
    kByte,
    kDate,
    kObject,
  };

  Variant() = default;
  Variant(const char16_t* text) : value_(Text(text)) {}
  Variant(Text text) : value_(std::move(text)) {}
  Variant(TextView text) : value_(Text(text)) {}
  Variant(bool b) : value_(b) {}
  Variant(int16_t i) : value_(i) {}
  Variant(int32_t i) : value_(i) {}
  Variant(float f) : value_(f) {}
  Variant(double d) : value_(d) {}
  Variant(Currency c) : value_(c) {}
  Variant(Decimal d) : value_(d) {}
  Variant(uint8_t b) : value_(b) {}
  Variant(DateTime d) : value_(d) {}
  Variant(ObjectRef o) : value_(std::move(o)) {}

  static Variant Null() { return Variant(NullTag{}); }
  static Variant Missing() { return Variant(MissingTag{}); }

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool is_empty() const { return kind() == Kind::kEmpty; }
  bool is_null() const { return kind() == Kind::kNull; }
  bool is_missing() const { return kind() == Kind::kMissing; }
  bool is_text() const { return kind() == Kind::kText; }
  bool is_object() const { return kind() == Kind::kObject; }
  // Whole numbers, floats, currency, decimal and byte.
  bool is_number() const;
  bool is_whole_number() const { return kind() == Kind::kInt16 || kind() == Kind::kInt32; }

  const Text& text() const { return std::get<Text>(value_); }
  bool boolean() const { return std::get<bool>(value_); }
  DateTime date() const { return std::get<DateTime>(value_); }
  Currency currency() const { return std::get<Currency>(value_); }
  const Decimal& decimal() const { return std::get<Decimal>(value_); }
  const ObjectRef& object() const { return std::get<ObjectRef>(value_); }
  template <typename T>
  std::shared_ptr<T> object_as() const {
    return is_object() ? std::dynamic_pointer_cast<T>(object()) : nullptr;
  }

  // The numeric value of a number or Boolean (True is -1), or nullopt.
  std::optional<double> number() const;

  // Conversions as the host platform does them; each throws Failure with
  // "Type mismatch" (number 13) where the value does not convert.
  // ToText: empty gives "", null fails; numbers and dates use the regional
  // formats (Regional may be null only for values that need none).
  Text ToText(const Regional* regional) const;
  double ToDouble() const;
  // A truth value: a number (0 is false), or the words True/False in any case,
  // or a text that reads as a number.
  bool ToBool() const;
  // Rounds to the nearest whole number, halves to even; fails outside 32 bits.
  int32_t ToInt32() const;
  int16_t ToInt16() const;

  bool operator==(const Variant& other) const = default;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct MissingTag {
    bool operator==(const MissingTag&) const = default;
  };
  explicit Variant(NullTag) : value_(NullTag{}) {}
  explicit Variant(MissingTag) : value_(MissingTag{}) {}

  std::variant<std::monostate, NullTag, MissingTag, Text, bool, int16_t, int32_t, float, double,
               Currency, Decimal, uint8_t, DateTime, ObjectRef>
      value_;
};

// Text form of a number as records and replies write it: shortest text that
// reads back (at most 7 significant digits for single, 15 for double, 4
// decimals for currency), no grouping, `decimal_separator` as the point.
Text NumberText(const Variant& number, char16_t decimal_separator);
double DecimalToDouble(const Decimal& d);

}  // namespace pellory
