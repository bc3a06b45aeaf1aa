#include "lookup/phone_regions.h"

namespace pellory::lookup::tables {
namespace {

// Base letters of U+00C0 to U+00DF; U+00E0 to U+00FF are their small forms,
// with U+00FF (y with diaeresis) in place of U+00DF (sharp s). Empty: not a
// letter (multiplication and division signs).
constexpr const char* kLatin1Letters[32] = {"A", "A", "A", "A", "A", "A", "AE", "C", "E",  "E", "E",
                                            "E", "I", "I", "I", "I", "D", "N",  "O", "O",  "O", "O",
                                            "O", "",  "O", "U", "U", "U", "U",  "Y", "TH", "SS"};

bool IsPunctuation(char16_t c) {
  return c < 0x80 || (c >= 0xA0 && c < 0xC0) || (c >= 0x2000 && c < 0x2070) || c == 0x3000;
}

}  // namespace

std::optional<std::string> FoldRegionName(TextView name) {
  std::string key;
  for (const char16_t c : name) {
    if (c >= u'a' && c <= u'z') {
      key += static_cast<char>(c - u'a' + 'A');
    } else if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
      key += static_cast<char>(c);
    } else if (c == u'&') {
      key += "AND";
    } else if (c >= 0xC0 && c <= 0xFF) {
      key += c == 0xFF ? "Y" : kLatin1Letters[(c - 0xC0) % 32];
    } else if (c == 0x152 || c == 0x153) {
      key += "OE";
    } else if (!IsPunctuation(c)) {
      return std::nullopt;
    }
  }
  return key;
}

}  // namespace pellory::lookup::tables
