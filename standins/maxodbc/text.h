// Text at the driver's edges: the ODBC W entry points speak UTF-16 (SQLWCHAR), SQLite and the
// narrow (SQL_C_CHAR) results speak UTF-8.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace maxodbc {

// UTF-16 text from the application: `length` in characters, or SQL_NTS.
std::string FromWide(const SQLWCHAR* text, SQLINTEGER length);

// Decodes one code point from UTF-8 at `pos`, advancing it; malformed input gives U+FFFD.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);

void AppendUtf8(std::string& out, char32_t cp);

// Number of UTF-16 code units the UTF-8 text converts to.
std::size_t Utf16Length(std::string_view utf8);

// Converts UTF-8 to UTF-16 into `out`, skipping the first `skip_units` code units and writing at
// most `max_units`. `pos`/`unit` allow resuming: they hold the UTF-8 byte position and the UTF-16
// unit index reached (a code point split across two calls is resumed correctly). Returns the
// number of units written.
std::size_t ConvertToUtf16(std::string_view utf8, std::size_t& pos, std::size_t& unit,
                           std::size_t skip_units, SQLWCHAR* out, std::size_t max_units);

// Copies a UTF-8 text as UTF-16 to an output buffer of `capacity` characters (with room for the
// terminating NUL), reporting the full length in characters. Returns true when it was truncated.
bool CopyOutWide(std::string_view utf8, SQLWCHAR* out, std::size_t capacity,
                 std::size_t* full_length);

// Simple case mapping of the European scripts (Latin, Greek, Cyrillic) for the SQL functions
// ucase and lcase.
char32_t UpperCase(char32_t cp);
char32_t LowerCase(char32_t cp);

// Compares two ASCII texts without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace maxodbc
