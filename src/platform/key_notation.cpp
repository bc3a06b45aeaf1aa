#include "platform/key_notation.h"

#include "platform/failure.h"

namespace pellory {
namespace {

Text KeyName(TextView key) {
  if (key.size() == 1) return Text(key);
  // "PGDN" -> "Pgdn", "F4" -> "F4": the first letter stays, the rest lower.
  Text out(key);
  for (size_t i = 1; i < out.size(); ++i) {
    if (out[i] >= u'A' && out[i] <= u'Z') out[i] = static_cast<char16_t>(out[i] - u'A' + u'a');
  }
  return out;
}

// More presses than this from one "{X n}" is taken for a mistake.
constexpr unsigned kMaxRepeat = 10000;

[[noreturn]] void Invalid() { throw Failure(u"Invalid procedure call or argument", 5); }

struct KeyAlias {
  const char16_t* name;
  const char16_t* key;
};

constexpr KeyAlias kKeyNames[] = {
    {u"BACKSPACE", u"BACKSPACE"},
    {u"BS", u"BACKSPACE"},
    {u"BKSP", u"BACKSPACE"},
    {u"BREAK", u"BREAK"},
    {u"CAPSLOCK", u"CAPSLOCK"},
    {u"DELETE", u"DELETE"},
    {u"DEL", u"DELETE"},
    {u"DOWN", u"DOWN"},
    {u"END", u"END"},
    {u"ENTER", u"ENTER"},
    {u"ESC", u"ESC"},
    {u"HELP", u"HELP"},
    {u"HOME", u"HOME"},
    {u"INSERT", u"INSERT"},
    {u"INS", u"INSERT"},
    {u"LEFT", u"LEFT"},
    {u"NUMLOCK", u"NUMLOCK"},
    {u"PGDN", u"PGDN"},
    {u"PGUP", u"PGUP"},
    {u"PRTSC", u"PRTSC"},
    {u"RIGHT", u"RIGHT"},
    {u"SCROLLLOCK", u"SCROLLLOCK"},
    {u"TAB", u"TAB"},
    {u"UP", u"UP"},
    {u"ADD", u"ADD"},
    {u"SUBTRACT", u"SUBTRACT"},
    {u"MULTIPLY", u"MULTIPLY"},
    {u"DIVIDE", u"DIVIDE"},
};

// The key a "{...}" names: a single character stands for itself.
Text NamedKey(TextView name) {
  if (name.size() == 1) return Text(name);
  Text upper = UpperCase(name);
  for (const KeyAlias& alias : kKeyNames) {
    if (upper == alias.name) return alias.key;
  }
  // F1 to F16.
  if (upper.size() >= 2 && upper.size() <= 3 && upper[0] == u'F') {
    unsigned n = 0;
    for (size_t i = 1; i < upper.size(); ++i) {
      if (upper[i] < u'0' || upper[i] > u'9') Invalid();
      n = n * 10 + (upper[i] - u'0');
    }
    if (n >= 1 && n <= 16 && upper[1] != u'0') return upper;
  }
  Invalid();
}

class Parser {
 public:
  explicit Parser(TextView keys) : keys_(keys) {}

  std::vector<KeyStroke> Run() {
    size_t i = 0;
    while (i < keys_.size()) {
      char16_t c = keys_[i];
      switch (c) {
        case u'+':
          pending_.shift = true;
          ++i;
          break;
        case u'^':
          pending_.ctrl = true;
          ++i;
          break;
        case u'%':
          pending_.alt = true;
          ++i;
          break;
        case u'(':
          if (in_group_) Invalid();
          in_group_ = true;
          group_ = pending_;
          pending_ = {};
          ++i;
          break;
        case u')':
          if (!in_group_ || pending_.has_modifiers()) Invalid();
          in_group_ = false;
          group_ = {};
          ++i;
          break;
        case u'}':
          Invalid();
        case u'{':
          i = Brace(i);
          break;
        case u'~':
          Press(u"ENTER", 1);
          ++i;
          break;
        default:
          Press(Text(1, c), 1);
          ++i;
          break;
      }
    }
    if (in_group_ || pending_.has_modifiers()) Invalid();
    return std::move(out_);
  }

 private:
  // Reads "{...}" starting at `open`; returns the position after it. "{}}"
  // is the way to type "}", so a "}" right after the "{" is content.
  size_t Brace(size_t open) {
    size_t from = open + 1;
    if (from < keys_.size() && keys_[from] == u'}') ++from;
    size_t close = keys_.find(u'}', from);
    if (close == TextView::npos) Invalid();
    TextView content = keys_.substr(open + 1, close - open - 1);
    if (content.empty()) Invalid();
    unsigned count = 1;
    size_t space = content.size() > 1 ? content.rfind(u' ') : TextView::npos;
    if (space != TextView::npos && space > 0) {
      TextView digits = content.substr(space + 1);
      if (digits.empty()) Invalid();
      count = 0;
      for (char16_t d : digits) {
        if (d < u'0' || d > u'9') Invalid();
        count = count * 10 + (d - u'0');
        if (count > kMaxRepeat) Invalid();
      }
      content = content.substr(0, space);
    }
    Press(NamedKey(content), count);
    return close + 1;
  }

  void Press(const Text& key, unsigned count) {
    KeyStroke k;
    k.key = key;
    k.shift = pending_.shift || group_.shift;
    k.ctrl = pending_.ctrl || group_.ctrl;
    k.alt = pending_.alt || group_.alt;
    for (unsigned n = 0; n < count; ++n) out_.push_back(k);
    pending_ = {};
  }

  TextView keys_;
  KeyStroke pending_;  // modifiers waiting for their key
  KeyStroke group_;    // modifiers of the open group
  bool in_group_ = false;
  std::vector<KeyStroke> out_;
};

}  // namespace

Text KeyStroke::Describe() const {
  Text out;
  if (ctrl) out += u"Ctrl+";
  if (alt) out += u"Alt+";
  if (shift) out += u"Shift+";
  out += KeyName(key);
  return out;
}

std::vector<KeyStroke> ParseKeys(TextView keys) { return Parser(keys).Run(); }

}  // namespace pellory
