#include "standins/crm/crm_common.h"

namespace pellory::standin {

Text AddressBookName(TextView path) {
  size_t end = path.find_last_not_of(u"\\/");
  if (end == TextView::npos) return Text(path);
  size_t slash = path.find_last_of(u"\\/", end);
  size_t start = slash == TextView::npos ? 0 : slash + 1;
  return Text(path.substr(start, end - start + 1));
}

std::string Quote(TextView text) { return "\"" + ToUtf8(text) + "\""; }

std::string Describe(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::kEmpty:
      return "<empty>";
    case Variant::Kind::kNull:
      return "Null";
    case Variant::Kind::kMissing:
      return "<omitted>";
    case Variant::Kind::kText:
      return Quote(v.text());
    case Variant::Kind::kBool:
      return v.boolean() ? "True" : "False";
    case Variant::Kind::kDate:
      return "<date>";
    case Variant::Kind::kObject:
      return "<object>";
    default:
      return ToUtf8(NumberText(v, u'.'));
  }
}

namespace {

constexpr char16_t kMask[] = u"****";

// The password among a call's arguments, if it has one.
const Variant* Password(TextView member, std::span<const Variant> args) {
  if (!EqualsNoCase(member, u"OpenDatabase") || args.size() < 5 || args[4].is_missing()) {
    return nullptr;
  }
  return &args[4];
}

}  // namespace

std::string DescribeCall(std::string_view object, TextView member, std::span<const Variant> args) {
  std::string line = std::string(object) + "." + ToUtf8(member) + "(";
  const Variant* password = Password(member, args);
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) line += ", ";
    line += &args[i] == password ? Quote(kMask) : Describe(args[i]);
  }
  return line + ")";
}

std::string DescribeFailure(TextView member, std::span<const Variant> args, TextView description) {
  Text text(description);
  const Variant* password = Password(member, args);
  if (password && password->kind() == Variant::Kind::kText && password->text().size() >= 3) {
    const Text& secret = password->text();
    for (size_t p = text.find(secret); p != Text::npos; p = text.find(secret, p + 4)) {
      text.replace(p, secret.size(), kMask);
    }
  }
  return ToUtf8(text);
}

std::string MessageName(unsigned message, uintptr_t wparam, intptr_t lparam) {
  // The numbers of WM_ACTIVATE, WM_CLOSE and WM_COMMAND.
  std::string name;
  switch (message) {
    case 273:
      name = "WM_COMMAND " + std::to_string(wparam);
      break;
    case 6:
      name = "WM_ACTIVATE " + std::to_string(wparam);
      break;
    case 16:
      name = "WM_CLOSE";
      break;
    default:
      return "message " + std::to_string(message) + " (" + std::to_string(wparam) + ", " +
             std::to_string(lparam) + ")";
  }
  if (lparam != 0) name += " (" + std::to_string(lparam) + ")";
  return name;
}

}  // namespace pellory::standin
