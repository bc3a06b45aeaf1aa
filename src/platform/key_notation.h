// The key notation of keystroke synthesis, read into key presses that each
// platform's adapter then delivers.
#pragma once

#include <vector>

#include "platform/text.h"

namespace pellory {

// One key press as the keyboard delivers it: a character ("1", "+") or a
// named key ("ENTER", "F4"), with the modifiers held down.
struct KeyStroke {
  Text key;
  bool shift = false;
  bool ctrl = false;
  bool alt = false;

  bool is_character() const { return key.size() == 1; }
  bool has_modifiers() const { return shift || ctrl || alt; }
  // "Alt+1", "Ctrl+Shift+F4", "Enter", "x".
  Text Describe() const;
  bool operator==(const KeyStroke&) const = default;
};

// Reads a key sequence in the key notation:
//   "+", "^", "%"  Shift, Ctrl, Alt held for the next key or "(...)" group
//   "~"            Enter
//   "(...)"        a group (not nested) taking the modifiers before it
//   "{X}"          a named key ({ENTER}, {F4}, {PGDN}, ...) or the
//                  character X itself, the way to type + ^ % ~ ( ) { } [ ]
//   "{X n}"        X pressed n times
// "[" and "]" have no meaning of their own and are typed as they stand.
// Throws Failure ("Invalid procedure call or argument", 5) for a sequence
// that does not read: an unknown key name, an unclosed brace or group, a
// stray ")" or "}", or modifiers with no key after them.
std::vector<KeyStroke> ParseKeys(TextView keys);

}  // namespace pellory
