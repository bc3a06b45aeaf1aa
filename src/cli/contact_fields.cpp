#include "cli/contact_fields.h"

#include <algorithm>

#include "plugin/records.h"
#include "plugin/text_functions.h"

namespace pellory::cli {

int ReplyNumber(Env& env, TextView rd, const char16_t* key) {
  double d = GetVar(env, rd, key, Variant(0.0)).ToDouble();
  return static_cast<int>(d);
}

Text DisplayName(Env& env, TextView rd) {
  Text name = GetText(env, rd, u"Name");
  return name.empty() ? GetText(env, rd, u"Company") : name;
}

std::vector<Text> ListEntries(Env& env, TextView reply) {
  std::vector<Text> entries;
  const int count = ReplyNumber(env, reply, u"ListCount");
  for (int i = 1; i <= count; ++i) entries.push_back(GetText(env, reply, u"List" + IntegerText(i)));
  return entries;
}

Text SharedCompany(Env& env, const std::vector<Text>& entries) {
  Text company;
  for (const Text& entry : entries) {
    const Text own = Trim(GetText(env, entry, u"Company"));
    if (own.empty() || !(company.empty() || EqualsNoCase(own, company))) return Text();
    if (company.empty()) company = own;
  }
  return company;
}

bool HoldsDigits(const std::string& tel) {
  return std::any_of(tel.begin(), tel.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace pellory::cli
