// What the form view and the prompts draw with on the terminal: captions
// with their access keys, wrapped and fitted text, and a one-line editor.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/terminal.h"
#include "platform/text.h"

namespace pellory::terminal {

// A caption without its "&" marks, and the place of its access key (-1: none).
struct Caption {
  std::u32string text;
  int access = -1;
};
Caption ParseCaption(TextView caption);

// Upper case of one character, as access keys and typed letters compare.
char32_t Upper(char32_t c);

// Breaks `text` into lines of at most `width` characters at blanks.
std::vector<std::u32string> Wrap(std::u32string_view text, int width);

// `text` cut or padded with blanks to `width` characters.
std::u32string Fit(std::u32string text, int width);

// A one-line text editor, shared by the form's text boxes and the prompts.
struct LineEditor {
  std::u32string text;
  size_t cursor = 0;

  // Applies an editing key; false when the key is not an editing key.
  bool Apply(const Key& key);
  // Draws "[text]" over `width` cells, scrolled so the cursor shows.
  void Draw(Screen& s, int x, int y, int width, bool masked, bool focused) const;
};

}  // namespace pellory::terminal
