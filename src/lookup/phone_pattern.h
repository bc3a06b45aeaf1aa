// The regular expressions of the numbering-plan tables (phone_regions.cpp),
// matched against strings of ASCII digits.
//
// Only the subset that the tables use is understood: digits, \d, classes of
// digits ([0-9], [2-46-9]), groups (capturing and (?:...)), alternation, the
// greedy quantifiers ?, *, +, {n}, {n,} and {n,m}, and $ for the end of the
// digits. Where several matches are possible the one Perl would take wins:
// the earlier alternative, the longer repetition.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace pellory::lookup {

class DigitPattern {
 public:
  static constexpr int kMaxGroups = 9;

  // nullopt when the pattern uses anything outside the subset.
  static std::optional<DigitPattern> Compile(std::string_view pattern);

  // The whole of `digits` matches.
  bool FullMatch(TextView digits) const;

  struct Prefix {
    size_t length = 0;
    // Capturing groups 1 to kMaxGroups; a group that took no part is empty.
    std::array<TextView, kMaxGroups + 1> groups{};
  };
  // The match that starts at the first digit (as Perl chooses it), if any.
  std::optional<Prefix> MatchPrefix(TextView digits) const;

  int group_count() const { return groups_; }

 private:
  friend class PatternCompiler;
  friend class PatternMatcher;
  enum class Kind : uint8_t { kSet, kGroup, kEnd };
  static constexpr uint8_t kUnbounded = 255;
  struct Node {
    Kind kind = Kind::kSet;
    uint16_t set = 0;  // bit d: digit d, for kSet
    uint8_t min = 1;
    uint8_t max = 1;
    int8_t capture = -1;  // group number, for kGroup
    int next = -1;        // the node after this one in its sequence
    int first_alt = -1;   // for kGroup
  };
  struct Alternative {
    int first = -1;  // first node; -1 for an empty alternative
    int next = -1;
  };
  std::vector<Node> nodes_;
  std::vector<Alternative> alts_;
  int groups_ = 0;
};

}  // namespace pellory::lookup
