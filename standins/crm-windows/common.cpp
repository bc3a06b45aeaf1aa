#include <cwchar>
#include <cwctype>

#include "standins/crm-windows/standin_crm.h"

namespace pellory::standin {
namespace {

Text FromWide(const std::wstring& s) { return Text(s.begin(), s.end()); }

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

}  // namespace

CrmState& State() {
  static CrmState state;
  return state;
}

bool ParseBusy(const std::wstring& text, Variant* busy) {
  const std::wstring lower = Lower(text);
  if (lower == L"true") {
    *busy = true;
  } else if (lower == L"false") {
    *busy = false;
  } else if (lower == L"null") {
    *busy = Variant::Null();
  } else {
    wchar_t* end = nullptr;
    long n = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0' || n < INT16_MIN || n > INT16_MAX) return false;
    *busy = static_cast<int16_t>(n);
  }
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, CrmOptions* o, std::string* error) {
  for (int i = 0; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto value = [&](std::wstring* out) {
      if (i + 1 >= argc) {
        *error = ToUtf8(FromWide(arg)) + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::wstring v;
    if (arg == L"--journal") {
      if (!value(&o->journal)) return false;
    } else if (arg == L"--database") {
      if (!value(&v)) return false;
      o->database_path = FromWide(v);
      o->address_book = AddressBookName(o->database_path);
    } else if (arg == L"--address-book") {
      if (!value(&v)) return false;
      o->address_book = FromWide(v);
    } else if (arg == L"--modal-view") {
      o->modal_view = true;
    } else if (arg == L"--busy") {
      // A bare --busy means True; a value may follow.
      if (i + 1 < argc && argv[i + 1][0] != L'-') {
        if (!ParseBusy(argv[++i], &o->busy)) {
          *error = "--busy takes true, false, null or a whole number";
          return false;
        }
      } else {
        o->busy = true;
      }
    } else if (arg == L"--timeout") {
      if (!value(&v)) return false;
      wchar_t* end = nullptr;
      o->timeout_seconds = std::wcstod(v.c_str(), &end);
      if (v.empty() || *end != L'\0' || !(o->timeout_seconds >= 0)) {
        *error = "--timeout takes a number of seconds";
        return false;
      }
    } else if (Lower(arg) == L"-embedding" || Lower(arg) == L"/embedding") {
      // Started by COM for a client: defaults throughout.
    } else {
      *error = "unknown option " + ToUtf8(FromWide(arg));
      return false;
    }
  }
  return true;
}

void CrmState::SetAddressBook(TextView name) {
  if (!main_window) return;
  const Text title = name.empty() ? Text(u"Maximizer") : u"Maximizer - [" + Text(name) + u"]";
  SetWindowTextW(main_window, reinterpret_cast<const wchar_t*>(title.c_str()));
}

Journal::~Journal() {
  if (file_) std::fclose(file_);
}

bool Journal::Open(const std::wstring& path) {
  file_ = _wfopen(path.c_str(), L"wb");
  return file_ != nullptr;
}

void Journal::Write(const std::string& line) {
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void Journal::Note(const std::string& line) {
  typing_label_.clear();
  Write(line);
}

void Journal::Typed(const std::string& label, const std::string& utf8) {
  if (!file_) return;
  if (typing_label_ == label && typed_at_ >= 0) {
    // The "typed" line is the last one: write it again, longer.
    std::fseek(file_, typed_at_, SEEK_SET);
    typed_ += utf8;
  } else {
    std::fseek(file_, 0, SEEK_END);
    typed_at_ = std::ftell(file_);
    typing_label_ = label;
    typed_ = utf8;
  }
  Write(label + ": typed \"" + typed_ + "\"");
}

}  // namespace pellory::standin
