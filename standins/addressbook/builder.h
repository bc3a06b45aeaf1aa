// Writing an address book: shared by the CSV import and the synthetic generator.
#pragma once

#include <filesystem>
#include <memory>

#include "addressbook.h"

namespace pellory::standins {

// Builds DIR/mxza.max in a temporary file inside one transaction and moves it into place on
// Finish; a builder dropped before Finish removes its temporary file and leaves DIR as it was.
class AddressBookBuilder {
 public:
  explicit AddressBookBuilder(const std::filesystem::path& dir);
  ~AddressBookBuilder();
  AddressBookBuilder(const AddressBookBuilder&) = delete;
  AddressBookBuilder& operator=(const AddressBookBuilder&) = delete;

  // Inserts one contact; fills its reversed phone columns from its phone numbers first.
  void Add(ContactRow& row);
  // Creates the indexes and the users, then moves the file into place. Returns the contact count.
  std::size_t Finish(const CreateOptions& options);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Fills `row` with the synthetic contact `index` of `seed` (reversed phone columns left as they
// were).
void FillSyntheticContact(ContactRow& row, std::uint64_t index, std::uint64_t seed);

}  // namespace pellory::standins
