// The numbering-plan tables: generated from libphonenumber's metadata and
// ICU's English region names by gen/phone_regions_gen.cpp into
// phone_regions.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "lookup/phone_number.h"

namespace pellory::lookup::tables {

// Sorted by code; the non-geographic codes ("001") come last, by country code.
extern const RegionInfo kRegions[];
extern const size_t kRegionCount;

// A region's name or code as a key of kRegionNames: ASCII letters in upper
// case and digits; accented Latin letters as their base letters ("Å" "A",
// "Æ" "AE"), "&" as "AND"; blanks and punctuation dropped. nullopt when the
// text holds a letter it cannot fold (another script).
std::optional<std::string> FoldRegionName(TextView name);

// Names and other codes of the regions, folded by FoldRegionName, sorted by
// key.
struct RegionName {
  const char* key;
  uint16_t region;  // index into kRegions
};
extern const RegionName kRegionNames[];
extern const size_t kRegionNameCount;

}  // namespace pellory::lookup::tables
