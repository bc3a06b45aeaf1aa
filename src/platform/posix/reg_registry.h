// The registry of the POSIX build: a file in the text format that the
// Windows registry editor exports and imports ("Windows Registry Editor
// Version 5.00", "[HKEY_CURRENT_USER\Software\...]" sections, "Name"="text"
// and "Name"=dword:0000000a values), so an administrator can hand it the
// same .reg file. Only HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE are kept.
//
// The subtree "Software\ODBC\ODBC.INI" is not kept in the file: it maps onto
// the driver manager's data sources (the user's for HKEY_CURRENT_USER, the
// system's for HKEY_LOCAL_MACHINE). "ODBC.INI\<name>" is a data source and
// its values are the source's attributes; the values of "ODBC.INI\ODBC Data
// Sources" give each source's driver.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/odbc/data_source_store.h"
#include "platform/registry.h"

namespace pellory {

// $PELLORY_REGISTRY, else $XDG_CONFIG_HOME/pellory/registry.reg, else
// ~/.config/pellory/registry.reg.
std::string DefaultRegistryPath();

class RegFileRegistry : public Registry {
 public:
  // `data_sources` may be null: the ODBC subtree is then kept in the file
  // like any other key.
  RegFileRegistry(std::string path, std::unique_ptr<DataSourceStore> data_sources);
  ~RegFileRegistry() override;

  OpenResult OpenKey(RegistryRoot root, TextView key) override;
  std::optional<int32_t> QueryDword(RegistryRoot root, TextView key, TextView name) override;
  std::optional<Text> QueryString(RegistryRoot root, TextView key, TextView name,
                                  size_t max_bytes) override;
  bool DeleteKey(RegistryRoot root, TextView key) override;
  void SetString(RegistryRoot root, TextView key, TextView name, TextView value) override;
  void SetDword(RegistryRoot root, TextView key, TextView name, int32_t value) override;

  const std::string& path() const { return path_; }

  struct Value {
    enum class Kind { kString, kDword, kBinary };
    Text name;  // empty: the key's default value ("@")
    Kind kind = Kind::kString;
    Text text;
    uint32_t dword = 0;
    int hex_type = 3;  // kBinary: the N of hex(N), 3 for plain hex
    std::vector<uint8_t> bytes;
  };
  struct Key {
    RegistryRoot root = RegistryRoot::kCurrentUser;
    Text path;  // as first written, without the root
    std::vector<Value> values;
  };

  // Parses the text of a .reg file; malformed lines are skipped.
  static std::vector<Key> Parse(TextView text);
  // The .reg text of `keys`, in order.
  static Text Format(const std::vector<Key>& keys);

 private:
  void Load();
  void Save();
  Key* FindKey(RegistryRoot root, TextView key);
  bool HasSubkeys(RegistryRoot root, TextView key) const;
  Key& MakeKey(RegistryRoot root, TextView key);
  Value& MakeValue(RegistryRoot root, TextView key, TextView name);

  std::string path_;
  std::unique_ptr<DataSourceStore> data_sources_;
  std::vector<Key> keys_;
  bool utf16_ = false;
  // What was last read, to read the file again only when it changed.
  struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtime_ns = 0;
    bool operator==(const Stamp&) const = default;
  } stamp_;
  bool loaded_ = false;
};

}  // namespace pellory
