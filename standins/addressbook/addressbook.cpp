#include "addressbook.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "builder.h"

namespace pellory::standins {

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw std::runtime_error(sql + ": " + text);
  }
}

Stmt Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(db, sql);
  return Stmt(st);
}

Db OpenExisting(const std::filesystem::path& dir, int flags) {
  const auto file = AddressBookPath(dir);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    throw std::runtime_error("no address book in " + dir.string() + " (" +
                             std::string(kAddressBookFile) + " is missing)");
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(raw, "cannot open " + file.string());
  sqlite3_busy_timeout(raw, 5000);
  return db;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

void InsertOrUpdateUser(sqlite3* db, const UserAccount& user) {
  if (user.name.empty()) throw std::runtime_error("a user name must not be empty");
  auto st = Prepare(db,
                    "insert into Users (User, Password) values (?1, ?2) "
                    "on conflict (User) do update set Password = excluded.Password");
  sqlite3_bind_text(st.get(), 1, user.name.data(), static_cast<int>(user.name.size()),
                    SQLITE_STATIC);
  sqlite3_bind_text(st.get(), 2, user.password.data(), static_cast<int>(user.password.size()),
                    SQLITE_STATIC);
  if (sqlite3_step(st.get()) != SQLITE_DONE) Fail(db, "cannot store user " + user.name);
}

}  // namespace

std::filesystem::path AddressBookPath(const std::filesystem::path& dir) {
  return dir / std::string(kAddressBookFile);
}

std::string ReversePhone(std::string_view phone) {
  std::string out;
  out.reserve(phone.size());
  for (auto it = phone.rbegin(); it != phone.rend(); ++it) {
    const char c = *it;
    if ((c >= '0' && c <= '9') || c == '*' || c == '#') out.push_back(c);
  }
  return out;
}

// ---- AddressBookBuilder ----

struct AddressBookBuilder::Impl {
  std::filesystem::path dir;
  std::filesystem::path temp_file;
  Db db;
  Stmt insert;
  std::size_t rows = 0;
  bool finished = false;
};

AddressBookBuilder::AddressBookBuilder(const std::filesystem::path& dir)
    : impl_(std::make_unique<Impl>()) {
  impl_->dir = dir;
  std::filesystem::create_directories(dir);
  impl_->temp_file = AddressBookPath(dir);
  impl_->temp_file += ".building";
  std::filesystem::remove(impl_->temp_file);

  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(impl_->temp_file.c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  impl_->db.reset(raw);
  if (rc != SQLITE_OK) Fail(raw, "cannot create " + impl_->temp_file.string());

  // The file is renamed into place only when complete, so it needs no journal while building.
  Exec(raw, "pragma journal_mode = off");
  Exec(raw, "pragma synchronous = off");
  Exec(raw, "pragma page_size = 4096");

  std::string create = "create table Client (";
  std::string insert = "insert into Client values (";
  for (std::size_t i = 0; i < kClientColumns.size(); ++i) {
    if (i > 0) {
      create += ", ";
      insert += ", ";
    }
    create += std::string(kClientColumns[i]) + " text";
    insert += "?" + std::to_string(i + 1);
  }
  Exec(raw, create + ")");
  Exec(raw,
       "create table Users (User text not null primary key collate nocase, "
       "Password text not null)");
  Exec(raw, "begin");
  impl_->insert = Prepare(raw, insert + ")");
}

AddressBookBuilder::~AddressBookBuilder() {
  if (impl_ && !impl_->finished) {
    impl_->insert.reset();
    impl_->db.reset();
    std::error_code ec;
    std::filesystem::remove(impl_->temp_file, ec);
  }
}

void AddressBookBuilder::Add(ContactRow& row) {
  for (int n = 0; n < 4; ++n) {
    row[kReversePhone1 + n] = ReversePhone(row[kPhone1 + 2 * n]);
  }
  sqlite3_stmt* st = impl_->insert.get();
  for (std::size_t i = 0; i < row.size(); ++i) {
    sqlite3_bind_text(st, static_cast<int>(i + 1), row[i].data(), static_cast<int>(row[i].size()),
                      SQLITE_STATIC);
  }
  if (sqlite3_step(st) != SQLITE_DONE) Fail(impl_->db.get(), "cannot insert a contact");
  sqlite3_reset(st);
  ++impl_->rows;
}

std::size_t AddressBookBuilder::Finish(const CreateOptions& options) {
  sqlite3* db = impl_->db.get();
  impl_->insert.reset();
  // The CRM indexes the first reversed phone column; the others and the identifier are indexed
  // here too so that generated books of a million contacts stay quick to search.
  for (int n = 1; n <= 4; ++n) {
    const std::string column = "Reverse_Phone_" + std::to_string(n);
    Exec(db, "create index Client_" + column + " on Client (" + column + ")");
  }
  Exec(db, "create index Client_Client_Id on Client (Client_Id)");

  bool default_given = false;
  for (const auto& user : options.users) {
    if (EqualsIgnoringCase(user.name, kDefaultUser)) default_given = true;
  }
  if (options.default_user && !default_given) {
    InsertOrUpdateUser(db, {std::string(kDefaultUser), std::string(kDefaultPassword)});
  }
  for (const auto& user : options.users) InsertOrUpdateUser(db, user);
  Exec(db, "commit");
  impl_->db.reset();

  std::filesystem::rename(impl_->temp_file, AddressBookPath(impl_->dir));
  impl_->finished = true;
  return impl_->rows;
}

// ---- CSV ----

std::vector<std::vector<std::string>> ParseCsv(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  std::size_t line = 1;
  std::size_t i = 0;
  const std::size_t n = text.size();
  bool record_has_content = false;

  auto end_field = [&] {
    record.push_back(std::move(field));
    field.clear();
  };
  auto end_record = [&] {
    end_field();
    if (record_has_content || record.size() > 1 || !record.front().empty()) {
      records.push_back(std::move(record));
    }
    record.clear();
    record_has_content = false;
  };

  while (i < n) {
    if (text[i] == '"' && field.empty()) {
      // Quoted field.
      record_has_content = true;
      const std::size_t start_line = line;
      ++i;
      for (;;) {
        if (i >= n) {
          throw std::runtime_error("CSV line " + std::to_string(start_line) +
                                   ": quoted field is not closed");
        }
        const char c = text[i];
        if (c == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (c == '\n') ++line;
        field.push_back(c);
        ++i;
      }
      if (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
        throw std::runtime_error("CSV line " + std::to_string(line) +
                                 ": text after the closing quote of a field");
      }
      continue;
    }
    const char c = text[i];
    if (c == ',') {
      record_has_content = true;
      end_field();
      ++i;
    } else if (c == '\r' || c == '\n') {
      end_record();
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      ++i;
      ++line;
    } else {
      field.push_back(c);
      ++i;
    }
  }
  if (!field.empty() || !record.empty() || record_has_content) end_record();
  return records;
}

std::size_t CreateFromCsv(const std::filesystem::path& dir, std::string_view csv_text,
                          const CreateOptions& options) {
  const auto records = ParseCsv(csv_text);
  if (records.empty()) throw std::runtime_error("the CSV text has no header line");

  // Column of the contact table for each CSV column; -1 for a computed column that is ignored.
  std::vector<int> target;
  for (const auto& name : records.front()) {
    std::string_view trimmed = name;
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    int found = -2;
    for (std::size_t c = 0; c < kClientColumns.size(); ++c) {
      if (EqualsIgnoringCase(trimmed, kClientColumns[c])) {
        found = (c >= kReversePhone1 && c < kReversePhone1 + 4) ? -1 : static_cast<int>(c);
      }
    }
    if (found == -2) {
      throw std::runtime_error("CSV header names an unknown column: " + std::string(trimmed));
    }
    for (int earlier : target) {
      if (found >= 0 && earlier == found) {
        throw std::runtime_error("CSV header names a column twice: " + std::string(trimmed));
      }
    }
    target.push_back(found);
  }

  AddressBookBuilder builder(dir);
  ContactRow row;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const auto& record = records[r];
    if (record.size() > target.size()) {
      throw std::runtime_error("CSV record " + std::to_string(r) + " has " +
                               std::to_string(record.size()) + " fields, the header " +
                               std::to_string(target.size()));
    }
    for (auto& value : row) value.clear();
    for (std::size_t f = 0; f < record.size(); ++f) {
      if (target[f] >= 0) row[static_cast<std::size_t>(target[f])] = record[f];
    }
    builder.Add(row);
  }
  return builder.Finish(options);
}

void CreateSynthetic(const std::filesystem::path& dir, std::uint64_t count, std::uint64_t seed,
                     const CreateOptions& options) {
  AddressBookBuilder builder(dir);
  ContactRow row;
  for (std::uint64_t i = 0; i < count; ++i) {
    FillSyntheticContact(row, i, seed);
    builder.Add(row);
  }
  builder.Finish(options);
}

ContactRow SyntheticContact(std::uint64_t index, std::uint64_t seed) {
  ContactRow row;
  FillSyntheticContact(row, index, seed);
  for (int n = 0; n < 4; ++n) row[kReversePhone1 + n] = ReversePhone(row[kPhone1 + 2 * n]);
  return row;
}

// ---- users ----

void AddUser(const std::filesystem::path& dir, const UserAccount& user) {
  auto db = OpenExisting(dir, SQLITE_OPEN_READWRITE);
  InsertOrUpdateUser(db.get(), user);
}

std::vector<std::string> ListUsers(const std::filesystem::path& dir) {
  auto db = OpenExisting(dir, SQLITE_OPEN_READONLY);
  auto st = Prepare(db.get(), "select User from Users order by rowid");
  std::vector<std::string> names;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(st.get(), 0);
    names.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  if (rc != SQLITE_DONE) Fail(db.get(), "cannot read the users");
  return names;
}

}  // namespace pellory::standins
