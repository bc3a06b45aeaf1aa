#include "dialogs/frm_config.h"

#include <algorithm>
#include <string>

#include "crmdb/crmdb.h"
#include "lookup/phone_regions.h"
#include "plugin/records.h"
#include "plugin/translate.h"
#include "plugin/trap.h"

namespace pellory {
namespace {

constexpr char16_t kDataSourcesKey[] = u"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";

constexpr int kLookupTab = 0;
constexpr int kUserTab = 1;

// Every geographic region as "<English name> (<code>)", ordered by name
// (accents and punctuation aside); `rows` gets each entry's row of the
// numbering-plan table.
std::vector<Text> RegionEntries(std::vector<int32_t>& rows) {
  using lookup::tables::kRegionCount;
  using lookup::tables::kRegions;
  struct Entry {
    std::string key;
    int32_t row;
  };
  std::vector<Entry> entries;
  entries.reserve(kRegionCount);
  for (size_t i = 0; i < kRegionCount; ++i) {
    if (kRegions[i].name[0] == u'\0') continue;  // the non-geographic codes
    Text name = kRegions[i].name;
    entries.push_back(
        {lookup::tables::FoldRegionName(name).value_or(ToUtf8(name)), static_cast<int32_t>(i)});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.row < b.row;
  });
  std::vector<Text> list;
  list.reserve(entries.size());
  rows.clear();
  for (const Entry& e : entries) {
    list.push_back(Text(kRegions[e.row].name) + u" (" + FromUtf8(kRegions[e.row].code) + u")");
    rows.push_back(e.row);
  }
  return list;
}

// Runs a step whose failure must leave no trace: the data-source prompt.
template <typename Step>
bool Quietly(Step&& step) noexcept {
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

Text DataDirectoryCaption(TextView db_file) {
  if (UpperCase(db_file) == u"(DEFAULT)") return u"Maximizer";
  if (db_file.size() <= 25) return Text(db_file);
  size_t start = db_file.size() - 23;
  // Never start inside a surrogate pair: the caption must stay valid text.
  if (db_file[start] >= 0xDC00 && db_file[start] <= 0xDFFF) ++start;
  return u"..." + Text(db_file.substr(start));
}

FrmConfig::FrmConfig(Env& env, Text& config_rd) : Form(env), config_rd_(config_rd) {
  using K = ControlKind;
  caption_ = u"Maximizer Configuration";
  controls_.reserve(29);
  Control& tabs = Add(MakeControl(u"Tabs", K::kTabControl, u"", 0, 0, 72, 14));
  tabs.list = {Text(), Text()};
  Control& data =
      Add(MakeControl(u"bData", K::kOptionButton, u"&Data directory:", 2, 2, 19, 1, kLookupTab));
  data.value = 1;
  Control& file = Add(MakeControl(u"dbFile", K::kTextBox, u"", 22, 2, 41, 1, kLookupTab));
  file.text = u"(Default)";
  Add(MakeControl(u"bIni", K::kCommandButton, u"...", 64, 2, 5, 1, kLookupTab));
  Add(MakeControl(u"bConn", K::kOptionButton, u"&SQL server:", 2, 3, 19, 1, kLookupTab));
  Add(MakeControl(u"OConn", K::kTextBox, u"", 22, 3, 41, 1, kLookupTab));
  Add(MakeControl(u"OSel", K::kCommandButton, u"...", 64, 3, 5, 1, kLookupTab));
  // How SQL mode searches: beneath the server, usable with SQL mode chosen.
  Add(MakeControl(u"SqlFilter", K::kCheckBox, u"Let the server &filter (faster)", 22, 4, 41, 1,
                  kLookupTab));
  // Beneath fData: it shows only while fData is hidden.
  Add(MakeControl(
      u"Label2", K::kLabel,
      u"Enter the location of the database files (*.max).  This needs to be a valid path "
      u"for the user(s).",
      2, 5, 67, 3, kLookupTab));
  Add(MakeControl(u"fData", K::kContainer, u"", 1, 5, 70, 8, kLookupTab));
  Add(MakeControl(u"Frame1", K::kFrame, u"&Search telephone fields", 2, 5, 67, 6, kLookupTab,
                  u"fData"));
  Add(MakeControl(u"Phone", K::kCheckBox, u"Phone &1", 4, 6, 14, 1, kLookupTab, u"Frame1", 0));
  Add(MakeControl(u"Label4", K::kLabel,
                  u"Searching is much faster when only indexed field 'Phone 1' is searched.", 4, 7,
                  36, 3, kLookupTab, u"Frame1"));
  Add(MakeControl(u"Phone", K::kCheckBox, u"Phone &2", 46, 6, 14, 1, kLookupTab, u"Frame1", 1));
  Add(MakeControl(u"Phone", K::kCheckBox, u"Phone &3", 46, 7, 14, 1, kLookupTab, u"Frame1", 2));
  Add(MakeControl(u"Phone", K::kCheckBox, u"Phone &4", 46, 8, 14, 1, kLookupTab, u"Frame1", 3));
  // How numbers are compared: search settings too, so they hide with fData.
  Add(MakeControl(u"NumberMatch", K::kCheckBox, u"Match &numbers in any format", 2, 11, 34, 1,
                  kLookupTab, u"fData"));
  Add(MakeControl(u"Label7", K::kLabel, u"Home &country:", 2, 12, 19, 1, kLookupTab, u"fData"));
  Control& region =
      Add(MakeControl(u"Region", K::kComboBox, u"", 22, 12, 41, 1, kLookupTab, u"fData"));
  region.list = RegionEntries(region.item_data);
  Add(MakeControl(u"Label6", K::kLabel, u"&User:", 2, 2, 11, 1, kUserTab));
  Add(MakeControl(u"User", K::kTextBox, u"", 14, 2, 30, 1, kUserTab));
  Add(MakeControl(u"Label3", K::kLabel, u"&Password:", 2, 4, 11, 1, kUserTab));
  Add(MakeControl(u"Pwd", K::kPasswordBox, u"", 14, 4, 30, 1, kUserTab));
  Add(MakeControl(u"OK", K::kCommandButton, u"OK", 46, 15, 10)).is_default = true;
  Add(MakeControl(u"Cancel", K::kCommandButton, u"Cancel", 58, 15, 10)).is_cancel = true;
}

void FrmConfig::Form_Load() {
  const TextView tag = tags::kConfigLoad;
  Trap(env_, tag, [&] { caption_ = Translate(env_, u"", u"<1> Configuration", u"Maximizer"); });
  Trap(env_, tag, [&] { Ctl(u"Tabs").list.at(0) = Translate(env_, u"", u"Lookup"); });
  Trap(env_, tag, [&] { Ctl(u"Tabs").list.at(1) = Translate(env_, u"", u"User"); });
  Trap(env_, tag, [&] {
    Text fallback = Translate(env_, u"", u"(Default)");
    Ctl(u"dbFile").text =
        GetVar(env_, config_rd_, u"dbFile", Variant(fallback)).ToText(&env_.regional());
  });
  Trap(env_, tag, [&] {
    if (GetVar(env_, config_rd_, u"UseSQL", Variant(int16_t{0})).ToBool()) {
      SelectOption(Ctl(u"bConn"));
    }
  });
  Trap(env_, tag, [&] { oconn_tag_ = GetText(env_, config_rd_, u"Connection"); });
  Trap(env_, tag, [&] { Ctl(u"OConn").text = GetText(env_, oconn_tag_, u"ConnName"); });
  for (int i = 0; i < 4; ++i) {
    Trap(env_, tag, [&] {
      Text key = u"Phone" + IntegerText(i + 1);
      SetCheckValue(Ctl(u"Phone", i), GetVar(env_, config_rd_, key, Variant(int16_t{1})).ToInt16());
    });
  }
  Trap(env_, tag, [&] { Ctl(u"User").text = GetText(env_, config_rd_, u"DBUser"); });
  Trap(env_, tag, [&] { Ctl(u"Pwd").text = GetText(env_, config_rd_, u"DBPwd"); });
  Trap(env_, tag, [&] { timeout_stored_ = GetVar(env_, config_rd_, u"Timeout"); });
  Trap(env_, tag, [&] {
    const Variant stored = GetVar(env_, config_rd_, u"NumberMatch");
    had_number_match_ = !stored.is_empty();
    const bool any = UpperCase(Trim(stored.ToText(&env_.regional()))) == u"ANY";
    SetCheckValue(Ctl(u"NumberMatch"), any ? kChecked : kUnchecked);
  });
  // The stored home country, else the locale's; a value that names no
  // region is kept as it is unless the person picks another.
  Trap(env_, tag, [&] { region_default_ = RegionIndex(env_.regional().Territory()); });
  Trap(env_, tag, [&] {
    region_stored_ = GetVar(env_, config_rd_, u"Region");
    const int stored =
        region_stored_.is_empty() ? -1 : RegionIndex(region_stored_.ToText(&env_.regional()));
    region_known_ = stored >= 0;
    region_loaded_ = region_known_ ? stored : region_default_;
    SetListIndex(Ctl(u"Region"), region_loaded_);
  });
  Trap(env_, tag, [&] {
    const Variant stored = GetVar(env_, config_rd_, u"SqlFilter");
    had_sql_filter_ = !stored.is_empty();
    const bool server = UpperCase(Trim(stored.ToText(&env_.regional()))) == u"SERVER";
    SetCheckValue(Ctl(u"SqlFilter"), server ? kChecked : kUnchecked);
  });
  Trap(env_, tag, [&] { Ctl(u"fData").visible = GetText(env_, config_rd_, u"Page") != u"USER"; });
  // A search setting too: hidden with the others on the user page.
  Trap(env_, tag, [&] { Ctl(u"SqlFilter").visible = Ctl(u"fData").visible; });
  Trap(env_, tag, [&] { EnableSqlFilter(); });
  // The user page opens on the tab of the user's own settings.
  Trap(env_, tag, [&] {
    Ctl(u"Tabs").value = GetText(env_, config_rd_, u"Page") == u"USER" ? kUserTab : kLookupTab;
  });
}

void FrmConfig::Form_Activate(WindowHandle window) {
  Trap(env_, tags::kConfigActivate, [&] { env_.windows().SetTopmost(window, true); });
  Trap(env_, tags::kConfigActivate, [&] { env_.windows().SetTopmost(window, false); });
}

void FrmConfig::bIni_Click() {
  const TextView tag = tags::kConfigBrowse;
  FileOpenRequest request;
  Trap(env_, tag, [&] { request.title = u"Select database file (mxza.max)"; });
  Trap(env_, tag, [&] { request.default_extension = u"max"; });
  Trap(env_, tag, [&] { request.filter = u"Database file (mxza.max)|mxza.max"; });
  Trap(env_, tag, [&] { request.file_name = Text(); });
  Text chosen;
  Trap(env_, tag, [&] { chosen = env_.dialogs().ShowOpen(request); });
  Trap(env_, tag, [&] {
    if (!chosen.empty()) Ctl(u"dbFile").text = FilePath(env_, chosen);
  });
}

void FrmConfig::OSel_Click() {
  const TextView tag = tags::kConfigSelect;
  Trap(env_, tag, [&] { Ctl(u"OConn").text.clear(); });
  ConnectionRef connection;
  Quietly([&] {
    connection = env_.databases().CreateRdoEngine()->OpenConnection(u"", PromptMode::kPrompt, false,
                                                                    u"ODBC;", 0);
  });
  if (!connection) return;
  Trap(env_, tag, [&] { SelectOption(Ctl(u"bConn")); });
  Trap(env_, tag, [&] { EnableSqlFilter(); });
  Text name;
  Trap(env_, tag, [&] { name = connection->DataSourceName(); });
  Trap(env_, tag, [&] { Ctl(u"OConn").text = name; });
  Text record;
  Trap(env_, tag, [&] { AddVar(env_, record, u"ConnName", Variant(name)); });
  Trap(env_, tag, [&] { AddVar(env_, record, u"Connect", Variant(connection->ConnectString())); });
  Trap(env_, tag, [&] {
    // A machine-wide data source gives its driver even when the user has one
    // of the same name.
    Variant user =
        RegistryGet(env_, kDataSourcesKey, name, Variant(Text()), RegistryRoot::kCurrentUser);
    Variant driver = RegistryGet(env_, kDataSourcesKey, name, user, RegistryRoot::kLocalMachine);
    AddVar(env_, record, u"Driver", driver);
  });
  Trap(env_, tag, [&] { oconn_tag_ = record; });
}

int FrmConfig::RegionIndex(TextView code_or_name) const {
  const lookup::RegionInfo* region = lookup::FindRegion(code_or_name);
  if (!region) return -1;
  const std::vector<int32_t>& rows = Ctl(u"Region").item_data;
  const auto at =
      std::find(rows.begin(), rows.end(), static_cast<int32_t>(region - lookup::tables::kRegions));
  return at == rows.end() ? -1 : static_cast<int>(at - rows.begin());
}

Text FrmConfig::RegionCode(int list_index) const {
  const std::vector<int32_t>& rows = Ctl(u"Region").item_data;
  if (list_index < 0 || list_index >= static_cast<int>(rows.size())) return Text();
  return FromUtf8(lookup::tables::kRegions[rows[static_cast<size_t>(list_index)]].code);
}

bool FrmConfig::ConfirmStore() {
  DialogHost& host = env_.dialogs();
  if (Ctl(u"bConn").value != 0) {
    if (!Trim(GetText(env_, oconn_tag_, u"Connect")).empty()) return true;
    host.Tell(caption_,
              u"No SQL server is chosen. Choose its data source with the \"...\" button next to "
              u"\"SQL server\", or choose the data directory.");
    return false;
  }
  // "(Default)" and the empty text leave the directory to the registry.
  const Text dir = Trim(Ctl(u"dbFile").text);
  if (dir.empty() || UpperCase(dir) == u"(DEFAULT)") return true;
  const char16_t last = dir.back();
  const bool windows_style = dir.find(u'\\') != Text::npos && dir.find(u'/') == Text::npos;
  Text book = dir;
  if (last != u'/' && last != u'\\') book += windows_style ? u'\\' : u'/';
  book += u"mxza.max";
  Text problem;
  switch (host.KindOfPath(dir)) {
    case PathKind::kNothing:
      problem = u" does not exist.";
      break;
    case PathKind::kFile:
      problem = u" is a file, not a folder.";
      break;
    case PathKind::kFolder:
      if (host.KindOfPath(book) == PathKind::kFile) return true;
      problem = u" has no address book (mxza.max).";
      break;
  }
  return host.AskYesNo(caption_, u"The data directory " + dir + problem + u" Store it anyway?");
}

void FrmConfig::OK_Click() {
  const TextView tag = tags::kConfigOk;
  // A setting that cannot work is stored only when the person insists.
  bool store = true;
  Trap(env_, tag, [&] { store = ConfirmStore(); });
  if (!store) return;
  Trap(env_, tag, [&] { config_rd_.clear(); });
  Trap(env_, tag, [&] {
    AddVar(env_, config_rd_, u"Caption", Variant(DataDirectoryCaption(Ctl(u"dbFile").text)));
  });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Dbfile", Variant(Trim(Ctl(u"dbFile").text))); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"Connection", Variant(oconn_tag_)); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"UseSQL", Variant(Ctl(u"bConn").value != 0)); });
  for (int i = 0; i < 4; ++i) {
    Trap(env_, tag, [&] {
      AddVar(env_, config_rd_, u"Phone" + IntegerText(i + 1),
             Variant(static_cast<int16_t>(Ctl(u"Phone", i).value)));
    });
  }
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"DBUser", Variant(Trim(Ctl(u"User").text))); });
  Trap(env_, tag, [&] { AddVar(env_, config_rd_, u"DBPwd", Variant(Trim(Ctl(u"Pwd").text))); });
  // A record that never held these settings gets them only once the person
  // leaves the defaults.
  Trap(env_, tag, [&] {
    if (Ctl(u"NumberMatch").value == kChecked) {
      AddVar(env_, config_rd_, u"NumberMatch", Variant(Text(u"Any")));
    } else if (had_number_match_) {
      AddVar(env_, config_rd_, u"NumberMatch", Variant(Text(u"Exact")));
    }
  });
  Trap(env_, tag, [&] {
    if (Ctl(u"SqlFilter").value == kChecked) {
      AddVar(env_, config_rd_, u"SqlFilter", Variant(Text(u"Server")));
    } else if (had_sql_filter_) {
      AddVar(env_, config_rd_, u"SqlFilter", Variant(Text(u"Client")));
    }
  });
  Trap(env_, tag, [&] {
    const Control& region = Ctl(u"Region");
    const bool stored = !region_stored_.is_empty();
    if (stored && !region_known_ && region.list_index == region_loaded_) {
      AddVar(env_, config_rd_, u"Region", region_stored_);
    } else if (stored || region.list_index != region_default_) {
      AddVar(env_, config_rd_, u"Region", Variant(RegionCode(region.list_index)));
    }
  });
  // The deadline is set outside the dialog; storing the dialog's settings
  // must not drop it.
  Trap(env_, tag, [&] {
    if (!timeout_stored_.is_empty()) AddVar(env_, config_rd_, u"Timeout", timeout_stored_);
  });
  Trap(env_, tag, [&] { Close(); });
}

void FrmConfig::Cancel_Click() {
  Trap(env_, tags::kConfigCancel, [&] { Close(); });
}

void FrmConfig::EnableSqlFilter() { Ctl(u"SqlFilter").enabled = Ctl(u"bConn").value != 0; }

void FrmConfig::OnClick(const Control& control) {
  if (control.kind == ControlKind::kOptionButton) {
    EnableSqlFilter();
  } else if (control.name == u"bIni") {
    bIni_Click();
  } else if (control.name == u"OSel") {
    OSel_Click();
  } else if (control.name == u"OK") {
    OK_Click();
  } else if (control.name == u"Cancel") {
    Cancel_Click();
  }
}

}  // namespace pellory
