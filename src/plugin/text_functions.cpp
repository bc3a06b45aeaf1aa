#include "plugin/text_functions.h"

#include <algorithm>

namespace pellory {

void AppendDigitsOnly(Text& out, TextView text) {
  for (char16_t c : text) {
    if ((c >= u'0' && c <= u'9') || c == u'*' || c == u'#') out += c;
  }
}

void AppendWordsOnly(Text& out, TextView text) {
  bool inside_word = true;
  for (char16_t raw : text) {
    char16_t c = UpperChar(raw);
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
      if (!inside_word) out += u',';
      out += c;
      inside_word = true;
    } else {
      inside_word = false;
    }
  }
}

Text DigitsOnly(TextView text) {
  Text out;
  out.reserve(text.size());
  AppendDigitsOnly(out, text);
  return out;
}

Text WordsOnly(TextView text) {
  Text out;
  out.reserve(text.size() + 1);
  AppendWordsOnly(out, text);
  return out;
}

Text Reverse(TextView text) { return Text(text.rbegin(), text.rend()); }

Text PhoneType(int number, TextView label) {
  Text upper = UpperCase(label);
  if (upper == u"MAIN") return u"MainTel";
  if (upper == u"FAX") return u"Fax";
  if (upper == u"WORK") return u"Business";
  if (number == 4) return u"Other";
  return u"Phone" + IntegerText(number);
}

bool WordsMatch(TextView haystack, TextView words) {
  Text probe;
  while (!words.empty()) {
    size_t comma = words.find(u',');
    TextView w = words.substr(0, comma);
    probe.assign(1, u',');
    probe += w;
    if (haystack.find(probe) == TextView::npos) return false;
    words.remove_prefix(comma == TextView::npos ? words.size() : comma + 1);
  }
  return true;
}

}  // namespace pellory
