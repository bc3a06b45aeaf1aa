#include "platform/posix/terminal_widgets.h"

#include <algorithm>

namespace pellory::terminal {

Caption ParseCaption(TextView caption) {
  Caption out;
  std::u32string raw = ToUtf32(caption);
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == U'&' && i + 1 < raw.size()) {
      ++i;
      if (raw[i] != U'&' && out.access < 0) out.access = static_cast<int>(out.text.size());
    }
    out.text.push_back(raw[i]);
  }
  return out;
}

char32_t Upper(char32_t c) { return c < 0x10000 ? UpperChar(static_cast<char16_t>(c)) : c; }

std::vector<std::u32string> Wrap(std::u32string_view text, int width) {
  std::vector<std::u32string> lines;
  if (width <= 0) return lines;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && text[pos] == U' ' && !lines.empty()) ++pos;
    size_t rest = text.size() - pos;
    if (rest <= static_cast<size_t>(width)) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    size_t cut = text.rfind(U' ', pos + static_cast<size_t>(width));
    if (cut == std::u32string_view::npos || cut <= pos) cut = pos + static_cast<size_t>(width);
    std::u32string line(text.substr(pos, cut - pos));
    while (!line.empty() && line.back() == U' ') line.pop_back();
    lines.push_back(std::move(line));
    pos = cut;
  }
  return lines;
}

std::u32string Fit(std::u32string text, int width) {
  if (width < 0) width = 0;
  text.resize(static_cast<size_t>(width), U' ');
  return text;
}

bool LineEditor::Apply(const Key& key) {
  cursor = std::min(cursor, text.size());
  switch (key.type) {
    case Key::kChar:
      if (key.ch < 0x20 || key.ch == 0x7F) return false;
      text.insert(text.begin() + static_cast<std::ptrdiff_t>(cursor), key.ch);
      ++cursor;
      return true;
    case Key::kBackspace:
      if (cursor > 0) text.erase(--cursor, 1);
      return true;
    case Key::kDelete:
      if (cursor < text.size()) text.erase(cursor, 1);
      return true;
    case Key::kLeft:
      if (cursor > 0) --cursor;
      return true;
    case Key::kRight:
      if (cursor < text.size()) ++cursor;
      return true;
    case Key::kHome:
      cursor = 0;
      return true;
    case Key::kEnd:
      cursor = text.size();
      return true;
    case Key::kCtrlU:
      text.clear();
      cursor = 0;
      return true;
    default:
      return false;
  }
}

void LineEditor::Draw(Screen& s, int x, int y, int width, bool masked, bool focused) const {
  int inner = std::max(1, width - 2);
  size_t cur = std::min(cursor, text.size());
  size_t offset = cur >= static_cast<size_t>(inner) ? cur - static_cast<size_t>(inner) + 1 : 0;
  std::u32string shown = text.substr(std::min(offset, text.size()), static_cast<size_t>(inner));
  if (masked) shown.assign(shown.size(), U'*');
  s.Put(x, y, U"[");
  s.Put(x + 1, y, Fit(shown, inner), Screen::kUnderline);
  s.Put(x + 1 + inner, y, U"]");
  if (focused) s.SetCursor(x + 1 + static_cast<int>(cur - offset), y);
}

}  // namespace pellory::terminal
