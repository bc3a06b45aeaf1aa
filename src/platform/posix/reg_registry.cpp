#include "platform/posix/reg_registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/failure.h"
#include "platform/files.h"

namespace pellory {
namespace {

constexpr char16_t kOdbcIni[] = u"SOFTWARE\\ODBC\\ODBC.INI";
constexpr char16_t kSourceList[] = u"ODBC Data Sources";

// Key paths compare without regard to case and without outer backslashes.
Text NormalKey(TextView key) {
  size_t b = 0, e = key.size();
  while (b < e && key[b] == u'\\') ++b;
  while (e > b && key[e - 1] == u'\\') --e;
  Text out;
  out.reserve(e - b);
  for (size_t i = b; i < e; ++i) {
    if (key[i] == u'\\' && !out.empty() && out.back() == u'\\') continue;
    out += key[i];
  }
  return out;
}

bool IsUnder(TextView key, TextView parent) {
  if (parent.empty()) return !key.empty();
  return key.size() > parent.size() && key[parent.size()] == u'\\' &&
         EqualsNoCase(key.substr(0, parent.size()), parent);
}

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) {
      n = 0;
    } else if ((c >> 5) == 6) {
      n = 1;
    } else if ((c >> 4) == 14) {
      n = 2;
    } else if ((c >> 3) == 30) {
      n = 3;
    } else {
      return false;
    }
    if (n > s.size() - i - 1) return false;
    for (size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += n + 1;
  }
  return true;
}

Text Decode(const std::string& bytes, bool* utf16) {
  *utf16 = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    *utf16 = true;
    Text t;
    t.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      t += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return t;
  }
  std::string_view body(bytes);
  if (body.size() >= 3 && body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  std::string s(body);
  if (ValidUtf8(s)) return FromUtf8(s);
  // An older export in a Western code page.
  Text t;
  t.reserve(s.size());
  for (char c : s) t += static_cast<char16_t>(static_cast<unsigned char>(c));
  return t;
}

bool ParseRoot(TextView name, RegistryRoot* root) {
  if (EqualsNoCase(name, u"HKEY_CURRENT_USER") || EqualsNoCase(name, u"HKCU")) {
    *root = RegistryRoot::kCurrentUser;
    return true;
  }
  if (EqualsNoCase(name, u"HKEY_LOCAL_MACHINE") || EqualsNoCase(name, u"HKLM")) {
    *root = RegistryRoot::kLocalMachine;
    return true;
  }
  return false;
}

const char16_t* RootName(RegistryRoot root) {
  return root == RegistryRoot::kCurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

// A quoted .reg string starting at `pos` (the opening quote); `pos` ends
// past the closing quote. False when it is not closed.
bool ReadQuoted(TextView line, size_t& pos, Text* out) {
  ++pos;
  while (pos < line.size()) {
    char16_t c = line[pos++];
    if (c == u'"') return true;
    if (c == u'\\' && pos < line.size()) c = line[pos++];
    *out += c;
  }
  return false;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool ParseBytes(TextView data, std::vector<uint8_t>* bytes) {
  int value = 0, digits = 0;
  for (char16_t c : data) {
    if (c == u',' || c == u' ' || c == u'\t') {
      if (digits) bytes->push_back(static_cast<uint8_t>(value));
      value = digits = 0;
      continue;
    }
    int d = HexDigit(c);
    if (d < 0 || digits == 2) return false;
    value = value * 16 + d;
    ++digits;
  }
  if (digits) bytes->push_back(static_cast<uint8_t>(value));
  return true;
}

Text Quote(TextView text) {
  Text out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  out += u'"';
  return out;
}

Text HexBytes(const std::vector<uint8_t>& bytes) {
  static const char16_t digits[] = u"0123456789abcdef";
  Text out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += u',';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// Where a key lies relative to the data-source subtree.
struct OdbcPlace {
  enum Kind { kOutside, kAncestor, kRoot, kList, kSource, kDeeper } kind = kOutside;
  Text dsn;
};

OdbcPlace Classify(TextView key) {
  OdbcPlace p;
  const TextView ini(kOdbcIni);
  if (EqualsNoCase(key, ini)) {
    p.kind = OdbcPlace::kRoot;
  } else if (IsUnder(ini, key)) {
    p.kind = OdbcPlace::kAncestor;
  } else if (IsUnder(key, ini)) {
    TextView rest = key.substr(ini.size() + 1);
    if (rest.find(u'\\') != TextView::npos) {
      p.kind = OdbcPlace::kDeeper;
    } else if (EqualsNoCase(rest, kSourceList)) {
      p.kind = OdbcPlace::kList;
    } else {
      p.kind = OdbcPlace::kSource;
      p.dsn = Text(rest);
    }
  }
  return p;
}

bool FitsAnsi(TextView text, size_t max_bytes) { return ToUtf8(text).size() + 1 <= max_bytes; }

}  // namespace

std::string DefaultRegistryPath() {
  if (const char* p = std::getenv("PELLORY_REGISTRY"); p && *p) return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    return std::string(x) + "/pellory/registry.reg";
  }
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config/pellory/registry.reg";
}

RegFileRegistry::RegFileRegistry(std::string path, std::unique_ptr<DataSourceStore> data_sources)
    : path_(std::move(path)), data_sources_(std::move(data_sources)) {}

RegFileRegistry::~RegFileRegistry() = default;

namespace {

using RegKey = RegFileRegistry::Key;
using RegValue = RegFileRegistry::Value;

// The logical line that starts at `pos` (moved past it): a trailing
// backslash in a value line joins the next physical line, whose leading
// blanks are dropped.
Text NextLogicalLine(TextView text, size_t& pos) {
  Text line;
  for (;;) {
    size_t end = text.find(u'\n', pos);
    if (end == TextView::npos) end = text.size();
    TextView piece = text.substr(pos, end - pos);
    pos = end + 1;
    if (!piece.empty() && piece.back() == u'\r') piece.remove_suffix(1);
    size_t lead = 0;
    if (!line.empty()) {
      while (lead < piece.size() && (piece[lead] == u' ' || piece[lead] == u'\t')) ++lead;
    }
    line.append(piece.substr(lead));
    size_t t = line.size();
    while (t > 0 && (line[t - 1] == u' ' || line[t - 1] == u'\t')) --t;
    if (t > 0 && line[t - 1] == u'\\' && line.find(u'=') != Text::npos && line.front() != u'[' &&
        pos < text.size()) {
      line.resize(t - 1);
      continue;
    }
    return line;
  }
}

// A key line "[ROOT\\path]" or "[-ROOT\\path]": the key it opens (its index
// in `keys`, added when new), or -1 when it removes a key or names no root.
long KeyLine(TextView l, std::vector<RegKey>& keys) {
  if (l.back() != u']') return -1;
  TextView inner = l.substr(1, l.size() - 2);
  bool remove = !inner.empty() && inner.front() == u'-';
  if (remove) inner.remove_prefix(1);
  size_t slash = inner.find(u'\\');
  RegistryRoot root;
  if (!ParseRoot(inner.substr(0, slash), &root)) return -1;
  Text path = NormalKey(slash == TextView::npos ? TextView() : inner.substr(slash + 1));
  if (remove) {
    std::erase_if(keys, [&](const RegKey& k) {
      return k.root == root && (EqualsNoCase(k.path, path) || IsUnder(k.path, path));
    });
    return -1;
  }
  long current = -1;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].root == root && EqualsNoCase(keys[i].path, path)) current = static_cast<long>(i);
  }
  if (current < 0) {
    keys.push_back(RegKey{root, path, {}});
    current = static_cast<long>(keys.size() - 1);
  }
  return current;
}

// "dword:XXXXXXXX": up to eight hex digits.
bool ParseDword(TextView digits, RegValue* v) {
  if (digits.empty() || digits.size() > 8) return false;
  uint32_t n = 0;
  for (char16_t c : digits) {
    int d = HexDigit(c);
    if (d < 0) return false;
    n = n * 16 + static_cast<uint32_t>(d);
  }
  v->kind = RegValue::Kind::kDword;
  v->dword = n;
  return true;
}

// "hex:..." or "hex(N):...": strings and numbers written as bytes become
// what they are; anything else stays binary with its N.
bool ParseHex(TextView data, bool regedit4, RegValue* v) {
  size_t colon = data.find(u':');
  if (colon == TextView::npos) return false;
  TextView type = data.substr(3, colon - 3);
  int hex_type = 3;
  if (!type.empty()) {
    if (type.size() < 3 || type.front() != u'(' || type.back() != u')') return false;
    hex_type = 0;
    for (char16_t c : type.substr(1, type.size() - 2)) {
      int d = HexDigit(c);
      if (d < 0) return false;
      hex_type = hex_type * 16 + d;
    }
  }
  if (!ParseBytes(data.substr(colon + 1), &v->bytes)) return false;
  if (hex_type == 1 || hex_type == 2) {
    // REG_SZ / REG_EXPAND_SZ written as bytes: UTF-16LE since version
    // 5.00, the ANSI code page before.
    v->kind = RegValue::Kind::kString;
    v->hex_type = hex_type;
    if (regedit4) {
      for (uint8_t c : v->bytes) v->text += static_cast<char16_t>(c);
    } else {
      for (size_t i = 0; i + 1 < v->bytes.size(); i += 2) {
        v->text += static_cast<char16_t>(v->bytes[i] | (v->bytes[i + 1] << 8));
      }
    }
    size_t nul = v->text.find(u'\0');
    if (nul != Text::npos) v->text.resize(nul);
    v->bytes.clear();
  } else if (hex_type == 4 && v->bytes.size() == 4) {
    v->kind = RegValue::Kind::kDword;
    v->dword = v->bytes[0] | (v->bytes[1] << 8) | (v->bytes[2] << 16) |
               (static_cast<uint32_t>(v->bytes[3]) << 24);
    v->bytes.clear();
  } else {
    v->kind = RegValue::Kind::kBinary;
    v->hex_type = hex_type;
  }
  return true;
}

// The data after "=": a quoted string, dword:, hex: or hex(N):.
bool ParseData(TextView data, bool regedit4, RegValue* v) {
  if (!data.empty() && data.front() == u'"') {
    size_t q = 0;
    v->kind = RegValue::Kind::kString;
    return ReadQuoted(data, q, &v->text);
  }
  if (data.size() > 6 && EqualsNoCase(data.substr(0, 6), u"dword:")) {
    return ParseDword(data.substr(6), v);
  }
  if (data.size() >= 4 && EqualsNoCase(data.substr(0, 3), u"hex")) {
    return ParseHex(data, regedit4, v);
  }
  return false;
}

// A value line ("name"=data, @=data, "name"=- to delete) of the key `values`.
void ApplyValueLine(TextView l, bool regedit4, std::vector<RegValue>& values) {
  RegValue v;
  size_t p = 0;
  if (l.front() == u'@') {
    p = 1;
  } else if (l.front() != u'"' || !ReadQuoted(l, p, &v.name)) {
    return;
  }
  while (p < l.size() && l[p] == u' ') ++p;
  if (p >= l.size() || l[p] != u'=') return;
  ++p;
  while (p < l.size() && l[p] == u' ') ++p;
  TextView data = l.substr(p);
  auto existing = std::find_if(values.begin(), values.end(),
                               [&](const RegValue& x) { return EqualsNoCase(x.name, v.name); });
  if (data == u"-") {
    if (existing != values.end()) values.erase(existing);
    return;
  }
  if (!ParseData(data, regedit4, &v)) return;
  if (existing != values.end()) {
    *existing = std::move(v);
  } else {
    values.push_back(std::move(v));
  }
}

}  // namespace

std::vector<RegFileRegistry::Key> RegFileRegistry::Parse(TextView text) {
  std::vector<Key> keys;
  bool regedit4 = false;
  long current = -1;
  size_t pos = 0;
  while (pos < text.size()) {
    Text line = NextLogicalLine(text, pos);
    size_t b = 0;
    while (b < line.size() && (line[b] == u' ' || line[b] == u'\t' || line[b] == u'\xFEFF')) ++b;
    TextView l = TextView(line).substr(b);
    while (!l.empty() && (l.back() == u' ' || l.back() == u'\t')) l.remove_suffix(1);
    if (l.empty() || l.front() == u';') continue;
    if (EqualsNoCase(l, u"REGEDIT4")) {
      regedit4 = true;
    } else if (l.front() == u'[') {
      current = KeyLine(l, keys);
    } else if (current >= 0) {
      ApplyValueLine(l, regedit4, keys[static_cast<size_t>(current)].values);
    }
  }
  return keys;
}

Text RegFileRegistry::Format(const std::vector<Key>& keys) {
  Text out = u"Windows Registry Editor Version 5.00\r\n";
  for (const Key& k : keys) {
    out += u"\r\n[";
    out += RootName(k.root);
    if (!k.path.empty()) {
      out += u'\\';
      out += k.path;
    }
    out += u"]\r\n";
    for (const Value& v : k.values) {
      out += v.name.empty() ? Text(u"@") : Quote(v.name);
      out += u'=';
      switch (v.kind) {
        case Value::Kind::kString:
          if (v.hex_type == 2) {
            std::vector<uint8_t> bytes;
            for (char16_t c : v.text) {
              bytes.push_back(static_cast<uint8_t>(c & 0xFF));
              bytes.push_back(static_cast<uint8_t>(c >> 8));
            }
            bytes.push_back(0);
            bytes.push_back(0);
            out += u"hex(2):" + HexBytes(bytes);
          } else {
            out += Quote(v.text);
          }
          break;
        case Value::Kind::kDword: {
          char buf[16];
          std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
          out += FromUtf8(buf);
          break;
        }
        case Value::Kind::kBinary: {
          if (v.hex_type == 3) {
            out += u"hex:";
          } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "hex(%x):", v.hex_type);
            out += FromUtf8(buf);
          }
          out += HexBytes(v.bytes);
          break;
        }
      }
      out += u"\r\n";
    }
  }
  return out;
}

void RegFileRegistry::Load() {
  Stamp now;
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0) {
    now.exists = true;
    now.dev = st.st_dev;
    now.ino = st.st_ino;
    now.size = st.st_size;
    now.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }
  if (loaded_ && now == stamp_) return;
  keys_.clear();
  utf16_ = false;
  if (now.exists) {
    std::string bytes;
    ReadWholeFile(path_, &bytes);  // what cannot be read is left out
    keys_ = Parse(Decode(bytes, &utf16_));
  }
  stamp_ = now;
  loaded_ = true;
}

void RegFileRegistry::Save() {
  Text text = Format(keys_);
  std::string bytes;
  if (utf16_) {
    bytes = "\xFF\xFE";
    for (char16_t c : text) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
  } else {
    bytes = ToUtf8(text);
  }
  MakePrivateFolders(ParentFolder(path_));
  try {
    ReplaceFileAtomically(path_, bytes);
  } catch (const std::runtime_error&) {
    throw Failure(u"The registry file cannot be written", 1013);
  }
  loaded_ = false;
}

RegFileRegistry::Key* RegFileRegistry::FindKey(RegistryRoot root, TextView key) {
  for (Key& k : keys_) {
    if (k.root == root && EqualsNoCase(k.path, key)) return &k;
  }
  return nullptr;
}

bool RegFileRegistry::HasSubkeys(RegistryRoot root, TextView key) const {
  for (const Key& k : keys_) {
    if (k.root == root && IsUnder(k.path, key)) return true;
  }
  return false;
}

RegFileRegistry::Key& RegFileRegistry::MakeKey(RegistryRoot root, TextView key) {
  if (Key* k = FindKey(root, key)) return *k;
  keys_.push_back(Key{root, Text(key), {}});
  return keys_.back();
}

RegFileRegistry::Value& RegFileRegistry::MakeValue(RegistryRoot root, TextView key, TextView name) {
  Key& k = MakeKey(root, key);
  for (Value& v : k.values) {
    if (EqualsNoCase(v.name, name)) return v;
  }
  k.values.push_back(Value{});
  k.values.back().name = Text(name);
  return k.values.back();
}

Registry::OpenResult RegFileRegistry::OpenKey(RegistryRoot root, TextView key_in) {
  Text key = NormalKey(key_in);
  if (data_sources_) {
    OdbcPlace place = Classify(key);
    const bool system = root == RegistryRoot::kLocalMachine;
    switch (place.kind) {
      case OdbcPlace::kAncestor:
      case OdbcPlace::kRoot:
      case OdbcPlace::kList:
        return OpenResult::kOk;
      case OdbcPlace::kSource:
        return data_sources_->Exists(system, place.dsn) ? OpenResult::kOk : OpenResult::kNotFound;
      case OdbcPlace::kDeeper:
        return OpenResult::kNotFound;
      case OdbcPlace::kOutside:
        break;
    }
  }
  Load();
  if (key.empty() || FindKey(root, key) || HasSubkeys(root, key)) return OpenResult::kOk;
  return OpenResult::kNotFound;
}

std::optional<int32_t> RegFileRegistry::QueryDword(RegistryRoot root, TextView key_in,
                                                   TextView name) {
  Text key = NormalKey(key_in);
  if (data_sources_ && Classify(key).kind != OdbcPlace::kOutside) return std::nullopt;
  Load();
  if (Key* k = FindKey(root, key)) {
    for (const Value& v : k->values) {
      if (EqualsNoCase(v.name, name)) {
        if (v.kind != Value::Kind::kDword) return std::nullopt;
        return static_cast<int32_t>(v.dword);
      }
    }
  }
  return std::nullopt;
}

std::optional<Text> RegFileRegistry::QueryString(RegistryRoot root, TextView key_in, TextView name,
                                                 size_t max_bytes) {
  Text key = NormalKey(key_in);
  std::optional<Text> found;
  if (data_sources_ && Classify(key).kind != OdbcPlace::kOutside) {
    OdbcPlace place = Classify(key);
    const bool system = root == RegistryRoot::kLocalMachine;
    if (place.kind == OdbcPlace::kList) {
      found = data_sources_->Driver(system, name);
    } else if (place.kind == OdbcPlace::kSource) {
      found = data_sources_->Value(system, place.dsn, name);
    }
  } else {
    Load();
    if (Key* k = FindKey(root, key)) {
      for (const Value& v : k->values) {
        if (EqualsNoCase(v.name, name) && v.kind == Value::Kind::kString) found = v.text;
      }
    }
  }
  if (found && !FitsAnsi(*found, max_bytes)) return std::nullopt;
  return found;
}

bool RegFileRegistry::DeleteKey(RegistryRoot root, TextView key_in) {
  Text key = NormalKey(key_in);
  if (key.empty()) return false;
  if (data_sources_) {
    OdbcPlace place = Classify(key);
    if (place.kind == OdbcPlace::kSource) {
      return data_sources_->Remove(root == RegistryRoot::kLocalMachine, place.dsn);
    }
    if (place.kind != OdbcPlace::kOutside) return false;
  }
  Load();
  if (HasSubkeys(root, key)) return false;
  Key* k = FindKey(root, key);
  if (!k) return false;
  keys_.erase(keys_.begin() + (k - keys_.data()));
  Save();
  return true;
}

void RegFileRegistry::SetString(RegistryRoot root, TextView key_in, TextView name, TextView value) {
  Text key = NormalKey(key_in);
  if (data_sources_) {
    OdbcPlace place = Classify(key);
    const bool system = root == RegistryRoot::kLocalMachine;
    if (place.kind == OdbcPlace::kSource) {
      data_sources_->SetValue(system, place.dsn, name, value);
      return;
    }
    if (place.kind == OdbcPlace::kList) {
      data_sources_->SetValue(system, name, u"Driver", value);
      return;
    }
    if (place.kind != OdbcPlace::kOutside) {
      throw Failure(u"The data-source keys hold no values of their own", 1013);
    }
  }
  Load();
  Value& v = MakeValue(root, key, name);
  v.kind = Value::Kind::kString;
  v.hex_type = 1;
  v.text = Text(value);
  v.bytes.clear();
  Save();
}

void RegFileRegistry::SetDword(RegistryRoot root, TextView key_in, TextView name, int32_t value) {
  Text key = NormalKey(key_in);
  if (data_sources_ && Classify(key).kind != OdbcPlace::kOutside) {
    SetString(root, key, name, IntegerText(value));
    return;
  }
  Load();
  Value& v = MakeValue(root, key, name);
  v.kind = Value::Kind::kDword;
  v.dword = static_cast<uint32_t>(value);
  v.text.clear();
  v.bytes.clear();
  Save();
}

}  // namespace pellory
