// Diagnostics: the records each handle keeps, SQLGetDiagRecW and SQLGetDiagFieldW.

#include <cstring>

#include "driver.h"
#include "text.h"

namespace maxodbc {

SQLRETURN Handle::Error(std::string_view state, std::string_view message, SQLINTEGER native) {
  diag.push_back({std::string(state), native, std::string(kMessagePrefix) + std::string(message)});
  last_return = SQL_ERROR;
  return SQL_ERROR;
}

SQLRETURN Handle::Warning(std::string_view state, std::string_view message) {
  diag.push_back({std::string(state), 0, std::string(kMessagePrefix) + std::string(message)});
  if (last_return != SQL_ERROR) last_return = SQL_SUCCESS_WITH_INFO;
  return SQL_SUCCESS_WITH_INFO;
}

Env* AsEnv(SQLHANDLE h) {
  auto* e = static_cast<Env*>(h);
  return e != nullptr && e->kind == Kind::kEnv ? e : nullptr;
}

Dbc* AsDbc(SQLHANDLE h) {
  auto* d = static_cast<Dbc*>(h);
  return d != nullptr && d->kind == Kind::kDbc ? d : nullptr;
}

Stmt* AsStmt(SQLHANDLE h) {
  auto* s = static_cast<Stmt*>(h);
  return s != nullptr && s->kind == Kind::kStmt ? s : nullptr;
}

namespace {

template <typename Length>
SQLRETURN WriteWideImpl(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity,
                        bool chars, Length* length) {
  if (capacity < 0) return h->Error("HY090", "Invalid string or buffer length");
  const std::size_t units =
      chars ? static_cast<std::size_t>(capacity) : static_cast<std::size_t>(capacity) / 2;
  std::size_t full = 0;
  const bool truncated = CopyOutWide(utf8, static_cast<SQLWCHAR*>(out), units, &full);
  if (length != nullptr) *length = static_cast<Length>(chars ? full : full * 2);
  if (truncated && out != nullptr) return h->Warning("01004", "String data, right truncated");
  return SQL_SUCCESS;
}

Handle* AsHandle(SQLSMALLINT type, SQLHANDLE h) {
  switch (type) {
    case SQL_HANDLE_ENV:
      return AsEnv(h);
    case SQL_HANDLE_DBC:
      return AsDbc(h);
    case SQL_HANDLE_STMT:
      return AsStmt(h);
    case SQL_HANDLE_DESC: {
      auto* d = static_cast<Desc*>(h);
      return d != nullptr && d->kind == Kind::kDesc ? d : nullptr;
    }
    default:
      return nullptr;
  }
}

bool IsoClass(std::string_view state) {
  static constexpr const char* kIsoClasses[] = {"01", "02", "07", "08", "21", "22",
                                                "23", "24", "25", "28", "2D", "34",
                                                "3C", "3D", "3F", "40", "42", "44"};
  for (const char* c : kIsoClasses) {
    if (state.substr(0, 2) == c) return true;
  }
  return false;
}

std::string ServerName(Handle* h) {
  if (auto* d = AsDbc(h)) return d->dsn;
  if (auto* s = AsStmt(h)) return s->dbc->dsn;
  return {};
}

}  // namespace

SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLLEN* length) {
  return WriteWideImpl(h, utf8, out, capacity, chars, length);
}
SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLSMALLINT* length) {
  return WriteWideImpl(h, utf8, out, capacity, chars, length);
}
SQLRETURN WriteWide(Handle* h, std::string_view utf8, SQLPOINTER out, SQLLEN capacity, bool chars,
                    SQLINTEGER* length) {
  return WriteWideImpl(h, utf8, out, capacity, chars, length);
}

}  // namespace maxodbc

using namespace maxodbc;

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT handle_type, SQLHANDLE handle,
                                                SQLSMALLINT record, SQLWCHAR* state,
                                                SQLINTEGER* native, SQLWCHAR* message,
                                                SQLSMALLINT capacity, SQLSMALLINT* length) {
  Handle* h = AsHandle(handle_type, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (record <= 0 || capacity < 0) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > h->diag.size()) return SQL_NO_DATA;
  const DiagRecord& r = h->diag[static_cast<std::size_t>(record - 1)];
  if (state != nullptr) CopyOutWide(r.state, state, 6, nullptr);
  if (native != nullptr) *native = r.native;
  std::size_t full = 0;
  const bool truncated = CopyOutWide(r.message, message, static_cast<std::size_t>(capacity), &full);
  if (length != nullptr) *length = static_cast<SQLSMALLINT>(full);
  return truncated && message != nullptr ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

MAXODBC_EXPORT SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT handle_type, SQLHANDLE handle,
                                                  SQLSMALLINT record, SQLSMALLINT field,
                                                  SQLPOINTER info, SQLSMALLINT capacity,
                                                  SQLSMALLINT* length) {
  Handle* h = AsHandle(handle_type, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;

  // Header fields.
  switch (field) {
    case SQL_DIAG_NUMBER:
      if (info != nullptr)
        *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(h->diag.size());
      return SQL_SUCCESS;
    case SQL_DIAG_RETURNCODE:
      if (info != nullptr) *static_cast<SQLRETURN*>(info) = h->last_return;
      return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT:
    case SQL_DIAG_CURSOR_ROW_COUNT: {
      if (handle_type != SQL_HANDLE_STMT) return SQL_ERROR;
      auto* s = static_cast<Stmt*>(h);
      if (info != nullptr) *static_cast<SQLLEN*>(info) = s->row_count.value_or(0);
      return SQL_SUCCESS;
    }
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (handle_type != SQL_HANDLE_STMT) return SQL_ERROR;
      CopyOutWide("", static_cast<SQLWCHAR*>(info),
                  capacity > 0 ? static_cast<std::size_t>(capacity) / 2 : 0, nullptr);
      if (length != nullptr) *length = 0;
      return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (handle_type != SQL_HANDLE_STMT) return SQL_ERROR;
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = SQL_DIAG_UNKNOWN_STATEMENT;
      return SQL_SUCCESS;
    default:
      break;
  }

  if (record <= 0) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > h->diag.size()) return SQL_NO_DATA;
  const DiagRecord& r = h->diag[static_cast<std::size_t>(record - 1)];
  auto text = [&](std::string_view value) -> SQLRETURN {
    if (capacity < 0) return SQL_ERROR;
    std::size_t full = 0;
    const bool truncated = CopyOutWide(value, static_cast<SQLWCHAR*>(info),
                                       static_cast<std::size_t>(capacity) / 2, &full);
    if (length != nullptr) *length = static_cast<SQLSMALLINT>(full * 2);
    return truncated && info != nullptr ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  };
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return text(r.state);
    case SQL_DIAG_NATIVE:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = r.native;
      return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT:
      return text(r.message);
    case SQL_DIAG_CLASS_ORIGIN:
      return text(IsoClass(r.state) ? "ISO 9075" : "ODBC 3.0");
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return text(IsoClass(r.state) && r.state.find('S') == std::string::npos ? "ISO 9075"
                                                                              : "ODBC 3.0");
    case SQL_DIAG_CONNECTION_NAME:
      return text("");
    case SQL_DIAG_SERVER_NAME:
      return text(ServerName(h));
    case SQL_DIAG_ROW_NUMBER:
      if (info != nullptr) *static_cast<SQLLEN*>(info) = SQL_ROW_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    case SQL_DIAG_COLUMN_NUMBER:
      if (info != nullptr) *static_cast<SQLINTEGER*>(info) = SQL_COLUMN_NUMBER_UNKNOWN;
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}
