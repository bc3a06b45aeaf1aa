// Address books of the stand-in Maximizer: a directory holding the SQLite file mxza.max with the
// contact table "Client" and the table "Users" of database users and passwords.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::standins {

// File name of the address book inside its directory.
inline constexpr std::string_view kAddressBookFile = "mxza.max";

// Columns of the contact table, in table order; all of them hold text.
inline constexpr std::array<std::string_view, 25> kClientColumns = {"Client_Id",
                                                                    "Name_Type",
                                                                    "First_Name",
                                                                    "Name",
                                                                    "Firm",
                                                                    "DEPARTMENT",
                                                                    "TITLE",
                                                                    "PHONE_1",
                                                                    "PHONE_1_Extension",
                                                                    "PHONE_2",
                                                                    "PHONE_2_Extension",
                                                                    "PHONE_3",
                                                                    "PHONE_3_Extension",
                                                                    "PHONE_4",
                                                                    "PHONE_4_Extension",
                                                                    "Reverse_Phone_1",
                                                                    "Reverse_Phone_2",
                                                                    "Reverse_Phone_3",
                                                                    "Reverse_Phone_4",
                                                                    "ADDRESS_Line_1",
                                                                    "ADDRESS_Line_2",
                                                                    "CITY",
                                                                    "STATE_PROVINCE",
                                                                    "ZIP_CODE",
                                                                    "COUNTRY"};

// Index of a column in kClientColumns.
enum ClientColumn : std::size_t {
  kClientId = 0,
  kNameType = 1,
  kFirstName = 2,
  kName = 3,
  kFirm = 4,
  kDepartment = 5,
  kTitle = 6,
  kPhone1 = 7,  // PHONE_n is kPhone1 + 2 * (n - 1), its extension follows it
  kReversePhone1 = 15,
  kAddressLine1 = 19,
  kAddressLine2 = 20,
  kCity = 21,
  kStateProvince = 22,
  kZipCode = 23,
  kCountry = 24,
};

using ContactRow = std::array<std::string, kClientColumns.size()>;

struct UserAccount {
  std::string name;
  std::string password;
};

struct CreateOptions {
  std::vector<UserAccount> users;
  // Adds MASTER with the password KESTREL unless a user of that name is given.
  bool default_user = true;
};

inline constexpr std::string_view kDefaultUser = "MASTER";
inline constexpr std::string_view kDefaultPassword = "KESTREL";

std::filesystem::path AddressBookPath(const std::filesystem::path& dir);

// The characters of a telephone number that dialling keeps ("0123456789*#"), in reverse order.
std::string ReversePhone(std::string_view phone);

// Splits CSV text (RFC 4180: "," between fields, fields in double quotes may hold commas, quotes
// written twice and line breaks; CRLF or LF line ends; a UTF-8 byte-order mark is skipped) into
// records. Blank lines are skipped. Throws std::runtime_error naming the line of a malformed field.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);

// Creates DIR/mxza.max (replacing an earlier one) from CSV text whose header names any of the
// contact columns in any order, matched without regard to case; absent columns stay empty and the
// reversed phone columns are always computed from the numbers. Returns the number of contacts.
std::size_t CreateFromCsv(const std::filesystem::path& dir, std::string_view csv_text,
                          const CreateOptions& options);

// Creates DIR/mxza.max with `count` generated contacts; the same count and seed always give the
// same rows.
void CreateSynthetic(const std::filesystem::path& dir, std::uint64_t count, std::uint64_t seed,
                     const CreateOptions& options);

// The generated contact number `index` (0-based) of the synthetic book with this seed.
ContactRow SyntheticContact(std::uint64_t index, std::uint64_t seed);

// Adds a user or, when one of that name exists (compared without regard to case), sets its
// password.
void AddUser(const std::filesystem::path& dir, const UserAccount& user);

// User names in the order they were added.
std::vector<std::string> ListUsers(const std::filesystem::path& dir);

}  // namespace pellory::standins
