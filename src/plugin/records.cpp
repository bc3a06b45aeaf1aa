#include "plugin/records.h"

#include <cmath>
#include <optional>

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

// The form every writer produces, "<letter><digits>)=", read without the
// general rule; it gives what the general rule gives for such a header.
bool ReadCommonHeader(TextView header, size_t after_paren, Header* h, double* length) {
  const char16_t type = header.empty() ? u'0' : header[0];
  if (!((type >= u'A' && type <= u'Z') || (type >= u'a' && type <= u'z'))) return false;
  size_t k = 1;
  uint32_t n = 0;
  while (k < header.size() && k < 9 && header[k] >= u'0' && header[k] <= u'9') {
    n = n * 10 + static_cast<uint32_t>(header[k] - u'0');
    ++k;
  }
  if (k == 1 || k + 1 >= header.size() || header[k] != u')' || header[k + 1] != u'=') {
    return false;
  }
  h->type = type;
  h->value_start = after_paren + k + 2;
  *length = n;
  return true;
}

Header ReadHeader(TextView rd, size_t after_paren) {
  Header h;
  TextView header = rd.substr(after_paren, kHeaderLength);
  double length;
  if (!ReadCommonHeader(header, after_paren, &h, &length)) {
    double n = LeadingNumber(header);
    if (n != 0) {
      length = n;  // no type letter: "{Tel(11)=...}"
    } else {
      h.type = header.empty() ? u'S' : header[0];
      length = header.size() > 1 ? LeadingNumber(header.substr(1)) : 0;
    }
    size_t eq = header.find(u'=');
    h.value_start = after_paren + (eq == TextView::npos ? header.size() : eq + 1);
  }
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
  char16_t type = u'S';
  size_t value_begin = 0;
  size_t value_end = 0;
};

// End of a malformed length-prefixed entry whose header starts at `from`: its
// first "}", or just before the next "{" when that comes first, so that an
// entry cut short never swallows the entries after it.
size_t MalformedEnd(TextView rd, size_t from) {
  size_t stop = rd.find_first_of(u"{}", from);
  if (stop == TextView::npos) return rd.size();
  return rd[stop] == u'}' ? stop + 1 : stop;
}

// Walks the record entry by entry, so that text inside a length-prefixed
// value is never taken for an entry. Text between entries is skipped. A
// well-formed length-prefixed entry ends where its length says; a malformed
// one (length not landing on "}", missing "=") ends as MalformedEnd says, and
// its value never reaches past its own end.
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
      e.type = h.type;
      size_t close = h.value_start + h.length;
      bool well_formed = h.value_start > j + 1 && rd[h.value_start - 1] == u'=' &&
                         close < rd.size() && rd[close] == u'}';
      if (well_formed) {
        e.end = close + 1;
        e.value_begin = h.value_start;
        e.value_end = close;
      } else {
        e.end = MalformedEnd(rd, j + 1);
        size_t limit = (e.end > j + 1 && rd[e.end - 1] == u'}') ? e.end - 1 : e.end;
        e.value_begin = h.value_start < limit ? h.value_start : limit;
        e.value_end = close < limit ? close : limit;
        if (e.value_end < e.value_begin) e.value_end = e.value_begin;
      }
    } else {
      size_t brace = rd.find(u'}', j + 1);
      e.end = brace == TextView::npos ? rd.size() : brace + 1;
      e.value_begin = j + 1;
      e.value_end = brace == TextView::npos ? rd.size() : brace;
    }
    if (!visit(e)) return;
    pos = rd.find(u'{', e.end);
  }
}

// The entry GetVar reads and AddVar replaces: the first top-level
// length-prefixed entry of that name, else the first top-level plain one.
std::optional<Entry> FindEntry(TextView rd, TextView name) {
  std::optional<Entry> prefixed, plain;
  ForEachEntry(rd, [&](const Entry& e) {
    if (EqualsNoCase(e.name, name)) {
      std::optional<Entry>& slot = e.prefixed ? prefixed : plain;
      if (!slot) slot = e;
    }
    return !prefixed;
  });
  return prefixed ? prefixed : plain;
}

Variant Convert(Env& env, char16_t type, TextView value) {
  if (type == u'N') {
    // Numbers are written with the regional decimal separator; read that
    // separator as the point too, or "1,5" written under a "," locale
    // would come back as 1.
    const char16_t separator = env.regional().DecimalSeparator();
    if (separator == u'.' || value.find(separator) == TextView::npos) {
      return Variant(LeadingNumber(value));
    }
    Text copy(value);
    for (auto& c : copy) {
      if (c == separator) c = u'.';
    }
    return Variant(LeadingNumber(copy));
  }
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
    if (auto e = FindEntry(rd, name)) {
      TextView value = rd.substr(e->value_begin, e->value_end - e->value_begin);
      result = e->prefixed ? Convert(env, e->type, value) : Variant(value);
      return;
    }
    // Not at the top level: an entry inside another entry's value is still
    // found, length-prefixed form first.
    Text key;
    key.reserve(name.size() + 2);
    key += u'{';
    key += name;
    key += u'(';
    size_t p = FindNoCase(rd, key);
    if (p != TextView::npos) {
      result = PrefixedValue(env, rd, p + key.size());
      return;
    }
    key.back() = u'=';
    p = FindNoCase(rd, key);
    result = p != TextView::npos ? PlainValue(rd, p + key.size()) : fallback;
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
    if (auto e = FindEntry(rd, name)) rd.erase(e->begin, e->end - e->begin);
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
