#include "plugin/translate.h"

#include "plugin/trap.h"

namespace pellory {
namespace {

// Replaces every "<placeholder>" left to right without rescanning what was
// inserted.
Text ReplaceAll(TextView text, TextView placeholder, TextView value) {
  Text out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t hit; (hit = text.find(placeholder, pos)) != TextView::npos;
       pos = hit + placeholder.size()) {
    out.append(text.substr(pos, hit - pos));
    out.append(value);
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

Text Translate(Env& env, TextView /*key*/, TextView text, TextView p1, TextView p2) {
  Text result;
  Trap(env, u"  @  Translate",
       [&] { result = ReplaceAll(ReplaceAll(text, u"<1>", p1), u"<2>", p2); });
  return result;
}

}  // namespace pellory
