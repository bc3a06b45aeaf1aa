#include "plugin/records.h"

#include <cmath>

#include "plugin/trap.h"

namespace pellory {
namespace {

constexpr size_t kHeaderLength = 10;

// What the ten characters after "{name(" say about a length-prefixed entry.
struct Header {
  char16_t type = u'S';
  size_t value_start = 0;  // position of the value's first character
  size_t length = 0;       // clamped to what the record holds
};

Header ReadHeader(TextView rd, size_t after_paren) {
  Header h;
  TextView header = rd.substr(after_paren, kHeaderLength);
  double n = LeadingNumber(header);
  double length;
  if (n != 0) {
    length = n;  // no type letter: "{Tel(11)=...}"
  } else {
    h.type = header.empty() ? u'S' : header[0];
    length = header.size() > 1 ? LeadingNumber(header.substr(1)) : 0;
  }
  size_t eq = header.find(u'=');
  h.value_start = after_paren + (eq == TextView::npos ? header.size() : eq + 1);
  // A negative or fractional length cannot come from a writer; read it as
  // the nearest sensible count instead of failing.
  length = std::nearbyint(length);
  size_t room = rd.size() - h.value_start;
  h.length = !(length > 0)
                 ? 0
                 : (length >= static_cast<double>(room) ? room : static_cast<size_t>(length));
  return h;
}

// One entry standing at the top level of a record.
struct Entry {
  size_t begin = 0;  // its "{"
  size_t end = 0;    // one past its last character
  TextView name;
  bool prefixed = false;  // length-prefixed form
};

// Walks the record entry by entry, so that text inside a length-prefixed
// value is never taken for an entry. Malformed entries end at their first
// "}"; text between entries is skipped.
template <typename Visit>
void ForEachEntry(TextView rd, Visit&& visit) {
  size_t pos = rd.find(u'{');
  while (pos != TextView::npos && pos < rd.size()) {
    size_t j = rd.find_first_of(u"{(=}", pos + 1);
    if (j == TextView::npos) return;
    if (rd[j] == u'{') {
      pos = j;
      continue;
    }
    if (rd[j] == u'}') {
      pos = rd.find(u'{', j + 1);
      continue;
    }
    Entry e;
    e.begin = pos;
    e.name = rd.substr(pos + 1, j - pos - 1);
    if (rd[j] == u'(') {
      e.prefixed = true;
      Header h = ReadHeader(rd, j + 1);
      size_t close = h.value_start + h.length;
      bool well_formed = h.value_start > j + 1 && rd[h.value_start - 1] == u'=' &&
                         close < rd.size() && rd[close] == u'}';
      if (well_formed) {
        e.end = close + 1;
      } else {
        size_t brace = rd.find(u'}', j + 1);
        e.end = brace == TextView::npos ? rd.size() : brace + 1;
      }
    } else {
      size_t brace = rd.find(u'}', j + 1);
      e.end = brace == TextView::npos ? rd.size() : brace + 1;
    }
    if (!visit(e)) return;
    pos = rd.find(u'{', e.end);
  }
}

struct Found {
  size_t begin = TextView::npos;
  size_t end = 0;
  size_t name_end = 0;  // position of "(" or "="
  bool prefixed = false;
  bool found() const { return begin != TextView::npos; }
};

// The entry GetVar reads and AddVar replaces: a top-level length-prefixed
// entry, else a top-level plain one.
Found FindEntry(TextView rd, TextView name) {
  Found prefixed, plain;
  ForEachEntry(rd, [&](const Entry& e) {
    if (EqualsNoCase(e.name, name)) {
      Found& slot = e.prefixed ? prefixed : plain;
      if (!slot.found()) {
        slot.begin = e.begin;
        slot.end = e.end;
        slot.name_end = e.begin + 1 + name.size();
        slot.prefixed = e.prefixed;
      }
    }
    return !prefixed.found();
  });
  return prefixed.found() ? prefixed : plain;
}

Variant Convert(Env& env, char16_t type, TextView value) {
  if (type == u'N') return Variant(LeadingNumber(value));
  if (type == u'D') {
    auto date = env.regional().ParseDateTime(value);
    if (!date) throw Failure(u"Type mismatch", 13);
    return Variant(*date);
  }
  return Variant(value);
}

Variant PrefixedValue(Env& env, TextView rd, size_t after_paren) {
  Header h = ReadHeader(rd, after_paren);
  return Convert(env, h.type, rd.substr(h.value_start, h.length));
}

Variant PlainValue(TextView rd, size_t after_eq) {
  size_t brace = rd.find(u'}', after_eq);
  return Variant(rd.substr(after_eq, brace == TextView::npos ? TextView::npos : brace - after_eq));
}

char16_t TypeCode(const Variant& v) {
  if (v.is_number()) return u'N';
  if (v.kind() == Variant::Kind::kDate) return u'D';
  return u'S';
}

}  // namespace

Variant GetVar(Env& env, TextView rd, TextView name, const Variant& fallback) {
  Variant result;
  Trap(env, tags::kGetVar, [&] {
    Found f = FindEntry(rd, name);
    if (f.found()) {
      result = f.prefixed ? PrefixedValue(env, rd, f.name_end + 1) : PlainValue(rd, f.name_end + 1);
      return;
    }
    // Not at the top level: an entry inside another entry's value is still
    // found, length-prefixed form first.
    Text key = u"{" + Text(name);
    size_t p = FindNoCase(rd, key + u"(");
    if (p != TextView::npos) {
      result = PrefixedValue(env, rd, p + key.size() + 1);
      return;
    }
    p = FindNoCase(rd, key + u"=");
    result = p != TextView::npos ? PlainValue(rd, p + key.size() + 1) : fallback;
  });
  return result;
}

Text GetText(Env& env, TextView rd, TextView name, const Variant& fallback) {
  Variant v = GetVar(env, rd, name, fallback);
  Text out;
  Trap(env, tags::kGetVar, [&] { out = v.ToText(&env.regional()); });
  return out;
}

void AddVar(Env& env, Text& rd, TextView name, const Variant& value, bool keep_empty) {
  Text value_text;
  char16_t type = TypeCode(value);
  Trap(env, tags::kAddVar, [&] { value_text = value.ToText(&env.regional()); });
  Trap(env, tags::kAddVar, [&] {
    Found f = FindEntry(rd, name);
    if (f.found()) rd.erase(f.begin, f.end - f.begin);
  });
  if (value_text.empty() && !keep_empty) return;
  Trap(env, tags::kAddVar, [&] {
    Text entry;
    entry.reserve(name.size() + value_text.size() + 16);
    entry += u'{';
    entry += name;
    entry += u'(';
    entry += type;
    entry += IntegerText(static_cast<int64_t>(value_text.size()));
    entry += u")=";
    entry += value_text;
    entry += u'}';
    rd += entry;
  });
}

}  // namespace pellory
