#include "lookup/phone_pattern.h"

namespace pellory::lookup {

// Recursive descent over the pattern text. Node 0 is a group around the
// whole pattern.
class PatternCompiler {
 public:
  PatternCompiler(std::string_view pattern, DigitPattern& out) : p_(pattern), out_(out) {}

  bool Run() {
    out_.nodes_.reserve(p_.size() + 1);
    out_.nodes_.push_back({DigitPattern::Kind::kGroup});
    Alternatives(0);
    return ok_ && i_ == p_.size();
  }

 private:
  using Kind = DigitPattern::Kind;

  bool Peek(char c) const { return i_ < p_.size() && p_[i_] == c; }
  bool Take(char c) {
    if (!Peek(c)) return false;
    ++i_;
    return true;
  }
  int NewNode(DigitPattern::Node node) {
    out_.nodes_.push_back(node);
    return static_cast<int>(out_.nodes_.size()) - 1;
  }

  // The alternatives of the group `group`, up to its ")" or the end.
  void Alternatives(int group) {
    int last = -1;
    do {
      out_.alts_.push_back({});
      const int alt = static_cast<int>(out_.alts_.size()) - 1;
      if (last < 0) {
        out_.nodes_[group].first_alt = alt;
      } else {
        out_.alts_[last].next = alt;
      }
      last = alt;
      const int first = Sequence();
      out_.alts_[alt].first = first;
    } while (ok_ && Take('|'));
  }

  int Sequence() {
    int first = -1, last = -1;
    while (ok_ && i_ < p_.size() && !Peek('|') && !Peek(')')) {
      const int node = Atom();
      if (!ok_) break;
      Quantifier(node);
      if (last < 0) {
        first = node;
      } else {
        out_.nodes_[last].next = node;
      }
      last = node;
    }
    return first;
  }

  int Atom() {
    const char c = p_[i_++];
    if (c >= '0' && c <= '9') return NewNode({Kind::kSet, static_cast<uint16_t>(1u << (c - '0'))});
    if (c == '\\') {
      if (!Take('d')) ok_ = false;
      return NewNode({Kind::kSet, 0x3FF});
    }
    if (c == '[') return NewNode({Kind::kSet, Class()});
    if (c == '$') return NewNode({Kind::kEnd});
    if (c == '(') {
      int8_t capture = -1;
      if (Take('?')) {
        if (!Take(':')) ok_ = false;
      } else if (out_.groups_ < DigitPattern::kMaxGroups) {
        capture = static_cast<int8_t>(++out_.groups_);
      } else {
        ok_ = false;
      }
      DigitPattern::Node group{Kind::kGroup};
      group.capture = capture;
      const int node = NewNode(group);
      Alternatives(node);
      if (!Take(')')) ok_ = false;
      return node;
    }
    ok_ = false;
    return -1;
  }

  uint16_t Class() {
    uint16_t set = 0;
    while (ok_ && !Take(']')) {
      if (i_ >= p_.size()) {
        ok_ = false;
        break;
      }
      const char c = p_[i_++];
      if (c == '\\' && Take('d')) {
        set |= 0x3FF;
      } else if (c >= '0' && c <= '9') {
        char to = c;
        if (Peek('-') && i_ + 1 < p_.size() && p_[i_ + 1] >= c && p_[i_ + 1] <= '9') {
          to = p_[i_ + 1];
          i_ += 2;
        }
        for (char d = c; d <= to; ++d) set |= static_cast<uint16_t>(1u << (d - '0'));
      } else {
        ok_ = false;
      }
    }
    return set;
  }

  std::optional<int> Number() {
    if (i_ >= p_.size() || p_[i_] < '0' || p_[i_] > '9') return std::nullopt;
    int n = 0;
    while (i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '9' && n < 1000)
      n = n * 10 + (p_[i_++] - '0');
    return n;
  }

  void Quantifier(int node) {
    int min = 1, max = 1;
    if (Take('?')) {
      min = 0;
    } else if (Take('*')) {
      min = 0;
      max = DigitPattern::kUnbounded;
    } else if (Take('+')) {
      max = DigitPattern::kUnbounded;
    } else if (Take('{')) {
      const auto lo = Number();
      if (!lo) {
        ok_ = false;
        return;
      }
      min = max = *lo;
      if (Take(',')) {
        const auto hi = Number();
        max = hi ? *hi : DigitPattern::kUnbounded;
      }
      if (!Take('}') || max < min || max > DigitPattern::kUnbounded) {
        ok_ = false;
        return;
      }
    } else {
      return;
    }
    // Lazy or possessive forms, repeated quantifiers, and "$?" are outside
    // the subset.
    if (Peek('?') || Peek('+') || Peek('*') || Peek('{') || out_.nodes_[node].kind == Kind::kEnd) {
      ok_ = false;
      return;
    }
    out_.nodes_[node].min = static_cast<uint8_t>(min);
    out_.nodes_[node].max = static_cast<uint8_t>(max);
  }

  std::string_view p_;
  DigitPattern& out_;
  size_t i_ = 0;
  bool ok_ = true;
};

// Backtracking over the nodes. A Frame stands for the group whose body is
// being matched: how often it has matched so far, where this pass began, and
// the frame of the group around it.
class PatternMatcher {
 public:
  PatternMatcher(const DigitPattern& pattern, TextView digits, bool whole)
      : p_(pattern), s_(digits), whole_(whole) {
    starts_.fill(kUnset);
    ends_.fill(kUnset);
  }

  bool Run() { return Group(0, 0, nullptr); }

  DigitPattern::Prefix Result() const {
    DigitPattern::Prefix out;
    out.length = accepted_;
    for (int g = 1; g <= p_.groups_; ++g) {
      if (starts_[g] != kUnset && ends_[g] != kUnset && ends_[g] >= starts_[g]) {
        out.groups[g] = s_.substr(starts_[g], ends_[g] - starts_[g]);
      }
    }
    return out;
  }

 private:
  using Node = DigitPattern::Node;
  using Kind = DigitPattern::Kind;
  static constexpr size_t kUnset = static_cast<size_t>(-1);

  struct Frame {
    int group;
    int count;
    size_t entry;
    const Frame* up;
  };

  bool IsIn(uint16_t set, char16_t c) const {
    return c >= u'0' && c <= u'9' && ((set >> (c - u'0')) & 1);
  }

  bool Sequence(int n, size_t pos, const Frame* f) {
    if (n < 0) return EndOfBody(pos, f);
    const Node& node = p_.nodes_[n];
    switch (node.kind) {
      case Kind::kEnd:
        return pos == s_.size() && Sequence(node.next, pos, f);
      case Kind::kSet: {
        size_t k = 0;
        while (k < node.max && pos + k < s_.size() && IsIn(node.set, s_[pos + k])) ++k;
        for (size_t taken = k + 1; taken-- > node.min;) {
          if (Sequence(node.next, pos + taken, f)) return true;
        }
        return false;
      }
      case Kind::kGroup:
        return Group(n, pos, f);
    }
    return false;
  }

  bool Group(int n, size_t pos, const Frame* f) {
    const Node& node = p_.nodes_[n];
    if (node.max > 0) {
      const Frame pass{n, 0, pos, f};
      if (Alternatives(node, pos, &pass)) return true;
    }
    return node.min == 0 && Sequence(node.next, pos, f);
  }

  bool Alternatives(const Node& group, size_t pos, const Frame* f) {
    size_t saved = kUnset;
    if (group.capture > 0) {
      saved = starts_[group.capture];
      starts_[group.capture] = pos;
    }
    for (int a = group.first_alt; a >= 0; a = p_.alts_[a].next) {
      if (Sequence(p_.alts_[a].first, pos, f)) return true;
    }
    if (group.capture > 0) starts_[group.capture] = saved;
    return false;
  }

  // One pass through the body of frame f's group has ended at pos.
  bool EndOfBody(size_t pos, const Frame* f) {
    if (!f) return Accept(pos);
    const Node& group = p_.nodes_[f->group];
    size_t saved = kUnset;
    if (group.capture > 0) {
      saved = ends_[group.capture];
      ends_[group.capture] = pos;
    }
    const int count = f->count + 1;
    const bool moved = pos != f->entry;
    if (count < group.max && moved) {
      const Frame again{f->group, count, pos, f->up};
      if (Alternatives(group, pos, &again)) return true;
    }
    // A pass that matched nothing can be repeated up to the minimum at will.
    if ((count >= group.min || !moved) && Sequence(group.next, pos, f->up)) return true;
    if (group.capture > 0) ends_[group.capture] = saved;
    return false;
  }

  bool Accept(size_t pos) {
    if (whole_ && pos != s_.size()) return false;
    accepted_ = pos;
    return true;
  }

  const DigitPattern& p_;
  TextView s_;
  bool whole_;
  size_t accepted_ = 0;
  std::array<size_t, DigitPattern::kMaxGroups + 1> starts_;
  std::array<size_t, DigitPattern::kMaxGroups + 1> ends_;
};

std::optional<DigitPattern> DigitPattern::Compile(std::string_view pattern) {
  DigitPattern out;
  if (!PatternCompiler(pattern, out).Run()) return std::nullopt;
  return out;
}

bool DigitPattern::FullMatch(TextView digits) const {
  return PatternMatcher(*this, digits, true).Run();
}

std::optional<DigitPattern::Prefix> DigitPattern::MatchPrefix(TextView digits) const {
  PatternMatcher m(*this, digits, false);
  if (!m.Run()) return std::nullopt;
  return m.Result();
}

}  // namespace pellory::lookup
