// Build tool (Linux): writes the numbering-plan tables, phone_regions.cpp,
// from the metadata compiled into libphonenumber and ICU's English region
// names.
//
//   phone_regions_gen OUTPUT
//
// The output depends on nothing but the two libraries, so the copy kept in
// the source tree (for builds without libphonenumber) can be compared with
// a fresh one.
#include <phonenumbers/phonemetadata.pb.h>
#include <phonenumbers/phonenumberutil.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/ures.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lookup/phone_pattern.h"
#include "lookup/phone_regions.h"

namespace i18n::phonenumbers {
int metadata_size();
const void* metadata_get();
}  // namespace i18n::phonenumbers

namespace {

using i18n::phonenumbers::PhoneMetadata;
using i18n::phonenumbers::PhoneMetadataCollection;
using i18n::phonenumbers::PhoneNumberUtil;
using pellory::Text;
using pellory::lookup::DigitPattern;
using pellory::lookup::tables::FoldRegionName;

// Names people write that ICU does not give.
struct Alias {
  const char* name;
  const char* code;
};
constexpr Alias kAliases[] = {
    {"UK", "GB"},
    {"Great Britain", "GB"},
    {"Britain", "GB"},
    {"England", "GB"},
    {"Scotland", "GB"},
    {"Wales", "GB"},
    {"Northern Ireland", "GB"},
    {"United Kingdom of Great Britain and Northern Ireland", "GB"},
    {"USA", "US"},
    {"United States of America", "US"},
    {"Holland", "NL"},
    {"Russian Federation", "RU"},
    {"Republic of Korea", "KR"},
    {"Turkey", "TR"},
    {"Czech Republic", "CZ"},
    {"Ivory Coast", "CI"},
    {"Macedonia", "MK"},
    {"Swaziland", "SZ"},
    {"Burma", "MM"},
    {"Vatican", "VA"},
    {"Macau", "MO"},
};

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "phone_regions_gen: %s\n", why.c_str());
  std::exit(1);
}

Text ToText(const icu::UnicodeString& s) {
  return Text(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<size_t>(s.length()));
}

// A C++ string literal; non-ASCII characters as \u escapes.
std::string Literal(const std::string& ascii) {
  std::string out = "\"";
  for (const char c : ascii) {
    if (c == '\\' || c == '"') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) Fail("non-ASCII pattern: " + ascii);
    out += c;
  }
  return out + "\"";
}

std::string Literal16(const Text& text) {
  std::string out = "u\"";
  for (const char16_t c : text) {
    if (c == u'\\' || c == u'"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

uint32_t LengthMask(const google::protobuf::RepeatedField<int32_t>& lengths) {
  uint32_t mask = 0;
  for (const int n : lengths) {
    if (n < 0 || n > 31) Fail("possible length out of range: " + std::to_string(n));
    mask |= 1u << n;
  }
  return mask;
}

std::string Pattern(const std::string& pattern, const std::string& region) {
  if (!pattern.empty() && !DigitPattern::Compile(pattern)) {
    Fail("pattern of " + region + " outside the supported subset: " + pattern);
  }
  return Literal(pattern);
}

// An ICU string of the English region data ("Countries%variant", ...).
std::optional<Text> IcuRegionString(const char* table, const std::string& code) {
  UErrorCode status = U_ZERO_ERROR;
  UResourceBundle* bundle = ures_open(U_ICUDATA_NAME "-region", "en", &status);
  UResourceBundle* names = ures_getByKey(bundle, table, nullptr, &status);
  int32_t length = 0;
  const UChar* s = ures_getStringByKey(names, code.c_str(), &length, &status);
  std::optional<Text> out;
  if (U_SUCCESS(status) && status != U_USING_FALLBACK_WARNING && s) {
    out = Text(reinterpret_cast<const char16_t*>(s), static_cast<size_t>(length));
  }
  ures_close(names);
  ures_close(bundle);
  return out;
}

struct Row {
  const PhoneMetadata* metadata;
  std::string code;
  Text name;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: phone_regions_gen OUTPUT");
  PhoneMetadataCollection collection;
  if (!collection.ParseFromArray(i18n::phonenumbers::metadata_get(),
                                 i18n::phonenumbers::metadata_size())) {
    Fail("cannot read libphonenumber's metadata");
  }
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();

  std::vector<Row> rows;
  for (const PhoneMetadata& m : collection.metadata()) {
    Row row{&m, m.id(), Text()};
    if (m.id() != "001") {
      icu::UnicodeString name;
      icu::Locale("", m.id().c_str()).getDisplayCountry(icu::Locale::getEnglish(), name);
      row.name = ToText(name);
      if (row.name.empty() || row.name == Text(m.id().begin(), m.id().end())) {
        Fail("ICU has no English name for " + m.id());
      }
    }
    rows.push_back(std::move(row));
  }
  // Regions by code, then the non-geographic entries by country code.
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    const bool a_geo = a.code != "001", b_geo = b.code != "001";
    if (a_geo != b_geo) return a_geo;
    if (a_geo) return a.code < b.code;
    return a.metadata->country_code() < b.metadata->country_code();
  });

  std::ostringstream out;
  out << "// Numbering plans by region, written by src/lookup/gen/phone_regions_gen.cpp\n"
         "// from libphonenumber's metadata and the English region names of ICU "
      << U_ICU_VERSION
      << ".\n"
         "// Do not edit: regenerate (the build writes a fresh copy beside its objects).\n"
         "// clang-format off\n"
         "#include \"lookup/phone_regions.h\"\n\n"
         "namespace pellory::lookup::tables {\n\n"
         "// code, name, country code, main region of the code, possible lengths,\n"
         "// local-only lengths, international prefix, national prefix, national\n"
         "// prefix for parsing, its transform, national number pattern\n"
         "const RegionInfo kRegions[] = {\n";
  // key -> (priority, region indices): lower priority wins; a key that
  // names two regions at its best priority is left out.
  std::map<std::string, std::pair<int, std::set<size_t>>> names;
  auto add_name = [&](const Text& name, size_t region, int priority) {
    const auto key = FoldRegionName(name);
    if (!key || key->size() < 2) return;
    auto [it, fresh] = names.try_emplace(*key, priority, std::set<size_t>{});
    if (!fresh && it->second.first < priority) return;
    if (!fresh && it->second.first > priority) it->second = {priority, {}};
    it->second.second.insert(region);
  };
  auto ascii = [](const std::string& s) { return Text(s.begin(), s.end()); };

  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const PhoneMetadata& m = *row.metadata;
    std::string main_region;
    util.GetRegionCodeForCountryCode(m.country_code(), &main_region);
    const bool main = main_region == row.code;
    const auto& general = m.general_desc();
    out << "    {" << Literal(row.code) << ", " << Literal16(row.name) << ", " << m.country_code()
        << ", " << (main ? "true" : "false") << ", " << Hex(LengthMask(general.possible_length()))
        << ", " << Hex(LengthMask(general.possible_length_local_only())) << ", "
        << Pattern(m.international_prefix(), row.code) << ", " << Literal(m.national_prefix())
        << ", " << Pattern(m.national_prefix_for_parsing(), row.code) << ", "
        << Literal(m.national_prefix_transform_rule()) << ", "
        << Pattern(general.national_number_pattern(), row.code) << "},\n";
    if (row.code == "001") continue;

    add_name(row.name, i, 0);
    // "Myanmar (Burma)": also "Myanmar"; "St. Lucia": also "Saint Lucia".
    if (const size_t open = row.name.find(u" ("); open != Text::npos) {
      add_name(row.name.substr(0, open), i, 1);
    }
    if (row.name.rfind(u"St. ", 0) == 0) add_name(u"Saint " + row.name.substr(4), i, 1);
    for (const char* table : {"Countries%variant", "Countries%short"}) {
      if (const auto alt = IcuRegionString(table, row.code)) add_name(*alt, i, 1);
    }
    const char* iso3 = icu::Locale("", row.code.c_str()).getISO3Country();
    if (iso3 && std::string(iso3).size() == 3) add_name(ascii(iso3), i, 1);
  }
  for (const Alias& alias : kAliases) {
    const auto it =
        std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.code == alias.code; });
    if (it == rows.end()) Fail(std::string("alias of an unknown region: ") + alias.code);
    add_name(ascii(alias.name), static_cast<size_t>(it - rows.begin()), 2);
  }
  out << "};\n"
         "const size_t kRegionCount = sizeof kRegions / sizeof kRegions[0];\n\n"
         "const RegionName kRegionNames[] = {\n";
  for (const auto& [key, entry] : names) {
    if (entry.second.size() != 1) {
      std::fprintf(stderr, "phone_regions_gen: %s names several regions; left out\n", key.c_str());
      continue;
    }
    // A two-letter key that is a region's code is looked up as a code.
    if (key.size() == 2 &&
        std::any_of(rows.begin(), rows.end(), [&](const Row& r) { return r.code == key; })) {
      continue;
    }
    out << "    {" << Literal(key) << ", " << *entry.second.begin() << "},\n";
  }
  out << "};\n"
         "const size_t kRegionNameCount = sizeof kRegionNames / sizeof kRegionNames[0];\n\n"
         "}  // namespace pellory::lookup::tables\n";

  const std::string path = argv[1];
  const std::string temp = path + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file) Fail("cannot write " + temp);
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) Fail("cannot rename " + temp);
  return 0;
}
