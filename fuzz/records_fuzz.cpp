// Fuzzes GetVar and AddVar.
//
// Any record: neither operation crashes or trips a sanitizer, and AddVar
// changes the record only by cutting out at most one run of characters and
// appending the new entry at the end.
//
// A well-formed record (entries one after another, top-level names distinct
// without regard to case): after AddVar(rd, n, v), GetVar(rd, n) reads v as
// it reads from a record holding nothing else, and every other entry still
// reads its old value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "plugin/records.h"
#include "support/fake_env.h"

namespace {

using namespace pellory;

// Characters that make up records, often enough to form entries.
constexpr char16_t kAlphabet[] = u"{}()==SND0123456789-.,eE aBzZ\u00e9\u00ff\u0436\U0001F600\t";
constexpr size_t kAlphabetSize = sizeof(kAlphabet) / sizeof(char16_t) - 1;
constexpr char16_t kNameAlphabet[] = u"aAbBtTeEl12 \u00e9\u00c9\u0436\u0416_";
constexpr size_t kNameAlphabetSize = sizeof(kNameAlphabet) / sizeof(char16_t) - 1;

Text Draw(FuzzedDataProvider& in, size_t max, const char16_t* alphabet, size_t size) {
  Text out;
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, max);
  for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
    const uint8_t b = in.ConsumeIntegral<uint8_t>();
    out += b < 0xF0 ? alphabet[b % size] : static_cast<char16_t>(0xD800 + b);
  }
  return out;
}

Text RecordText(FuzzedDataProvider& in) { return Draw(in, 80, kAlphabet, kAlphabetSize); }
Text Name(FuzzedDataProvider& in) { return Draw(in, 4, kNameAlphabet, kNameAlphabetSize); }

Variant Value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
      return Variant();
    case 1:
      return Variant(in.ConsumeBool());
    case 2:
      return Variant(in.ConsumeIntegral<int16_t>());
    case 3:
      return Variant(in.ConsumeIntegral<int32_t>());
    case 4:
      return Variant(in.ConsumeFloatingPoint<float>());
    case 5:
      return Variant(in.ConsumeFloatingPoint<double>());
    case 6:
      return Variant(Currency{in.ConsumeIntegral<int64_t>()});
    case 7:
      return Variant(in.ConsumeIntegral<uint8_t>());
    case 8:
      return Variant(
          MakeDateTime(in.ConsumeIntegralInRange(1, 9999), in.ConsumeIntegralInRange(1, 12),
                       in.ConsumeIntegralInRange(1, 28), in.ConsumeIntegralInRange(0, 23),
                       in.ConsumeIntegralInRange(0, 59), in.ConsumeIntegralInRange(0, 59)));
    default:
      return Variant(RecordText(in));
  }
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

bool Same(const Variant& a, const Variant& b) {
  // NaN reads back as itself only in spirit.
  if (a.kind() == Variant::Kind::kDouble && b.kind() == Variant::Kind::kDouble) {
    const double x = a.ToDouble(), y = b.ToDouble();
    return x == y || (x != x && y != y);
  }
  return a == b;
}

void AnyRecord(testing::FakeEnv& env, FuzzedDataProvider& in) {
  const Text before = RecordText(in);
  const Text name = in.ConsumeBool() ? Name(in) : RecordText(in);
  const Variant value = Value(in);
  const bool keep = in.ConsumeBool();
  (void)GetVar(env, before, name, Variant(u"default"));
  Text rd = before;
  AddVar(env, rd, name, value, keep);
  (void)GetVar(env, rd, name);
  // rd = before with one run cut out, then perhaps the new entry.
  Text fresh;
  AddVar(env, fresh, name, value, keep);
  Check(rd.size() >= fresh.size() && rd.ends_with(fresh), "new entry at the end");
  const TextView kept = TextView(rd).substr(0, rd.size() - fresh.size());
  Check(kept.size() <= before.size(), "AddVar only removes");
  size_t p = 0;
  while (p < kept.size() && kept[p] == before[p]) ++p;
  Check(TextView(before).ends_with(kept.substr(p)), "one run removed");
}

void WellFormedRecord(testing::FakeEnv& env, FuzzedDataProvider& in) {
  std::vector<Text> names;
  auto distinct = [&](const Text& n) {
    for (const Text& m : names) {
      if (EqualsNoCase(m, n)) return false;
    }
    return true;
  };
  Text rd;
  const int count = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
    Text n = Name(in);
    if (!distinct(n)) continue;
    if (in.ConsumeBool()) {
      // A plain entry: its value holds anything but "}".
      Text v = RecordText(in);
      std::erase(v, u'}');
      rd += u"{" + n + u"=" + v + u"}";
    } else {
      AddVar(env, rd, n, Value(in), true);
    }
    names.push_back(n);
  }
  std::vector<Variant> old;
  for (const Text& n : names) old.push_back(GetVar(env, rd, n));

  const Text name = Name(in);
  const Variant value = Value(in);
  const bool keep = in.ConsumeBool();
  Text fresh;
  AddVar(env, fresh, name, value, keep);
  AddVar(env, rd, name, value, keep);
  if (!fresh.empty()) {
    Check(Same(GetVar(env, rd, name), GetVar(env, fresh, name)), "added value reads back");
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (EqualsNoCase(names[i], name)) continue;
    Check(Same(GetVar(env, rd, names[i]), old[i]), "other entries keep their values");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  testing::FakeEnv env;
  env.fake_regional.separator = in.ConsumeBool() ? u',' : u'.';
  if (in.ConsumeBool()) {
    AnyRecord(env, in);
  } else {
    WellFormedRecord(env, in);
  }
  return 0;
}
