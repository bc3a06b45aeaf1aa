#include "support/fake_env.h"

#include <cstdio>

#include "platform/failure.h"

namespace pellory::testing {
namespace {

Text Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return FromUtf8(buf);
}

std::pair<int, Text> Key(RegistryRoot root, TextView key) {
  return {static_cast<int>(root), UpperCase(key)};
}

}  // namespace

Text FakeRegional::ShortDate(int year, int month, int day) const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", day, month, year);
  return FromUtf8(buf);
}

Text FakeRegional::LongTime(int hour, int minute, int second) const {
  return Two(hour) + u":" + Two(minute) + u":" + Two(second);
}

std::optional<DateTime> FakeRegional::ParseDateTime(TextView text) const {
  std::string s = ToUtf8(text);
  int d, mo, y, h = 0, mi = 0, se = 0;
  char tail;
  if (std::sscanf(s.c_str(), "%d/%d/%d %d:%d:%d%c", &d, &mo, &y, &h, &mi, &se, &tail) == 6 ||
      std::sscanf(s.c_str(), "%d/%d/%d%c", &d, &mo, &y, &tail) == 3) {
    return MakeDateTime(y, mo, d, h, mi, se);
  }
  if (std::sscanf(s.c_str(), "%d:%d:%d%c", &h, &mi, &se, &tail) == 3) {
    return MakeDateTime(1899, 12, 30, h, mi, se);
  }
  return std::nullopt;
}

Registry::OpenResult FakeRegistry::OpenKey(RegistryRoot root, TextView key) {
  return HasKey(root, key) ? OpenResult::kOk : OpenResult::kNotFound;
}

bool FakeRegistry::HasKey(RegistryRoot root, TextView key) const {
  return keys.count(Key(root, key)) > 0;
}

std::optional<int32_t> FakeRegistry::QueryDword(RegistryRoot root, TextView key, TextView name) {
  auto k = keys.find(Key(root, key));
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.find(UpperCase(name));
  if (v == k->second.end() || !v->second.is_dword) return std::nullopt;
  return v->second.dword;
}

std::optional<Text> FakeRegistry::QueryString(RegistryRoot root, TextView key, TextView name,
                                              size_t max_bytes) {
  auto k = keys.find(Key(root, key));
  if (k == keys.end()) return std::nullopt;
  auto v = k->second.find(UpperCase(name));
  if (v == k->second.end() || v->second.is_dword) return std::nullopt;
  if (v->second.text.size() + 1 > max_bytes) return std::nullopt;
  return v->second.text;
}

bool FakeRegistry::DeleteKey(RegistryRoot root, TextView key) {
  deleted.emplace_back(key);
  return keys.erase(Key(root, key)) > 0;
}

void FakeRegistry::SetString(RegistryRoot root, TextView key, TextView name, TextView value) {
  Value v;
  v.text = Text(value);
  keys[Key(root, key)][UpperCase(name)] = v;
}

void FakeRegistry::SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) {
  Value v;
  v.is_dword = true;
  v.dword = value;
  keys[Key(root, key)][UpperCase(name)] = v;
}

std::shared_ptr<DaoEngine> FakeDatabases::CreateDaoEngine() {
  if (!dao) throw Failure(u"ActiveX component can't create object", 429);
  return dao();
}

std::shared_ptr<RdoEngine> FakeDatabases::CreateRdoEngine() {
  if (!rdo) throw Failure(u"ActiveX component can't create object", 429);
  return rdo();
}

std::shared_ptr<AutoObject> FakeAutomation::CreateObject(TextView prog_id) {
  auto it = servers.find(UpperCase(prog_id));
  if (it == servers.end()) throw Failure(u"ActiveX component can't create object", 429);
  return it->second();
}

FakeEnv::FakeEnv()
    : database_engines(std::make_unique<FakeDatabases>()),
      window_system(std::make_unique<EmptyDesktop>()) {}

}  // namespace pellory::testing
