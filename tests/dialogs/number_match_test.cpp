// The configuration dialog's number-matching settings: "NumberMatch" and the
// home country "Region", from the stored record through the controls and OK
// back into the record; and the Lookup tab's layout with them on it.
#include <gtest/gtest.h>

#include "assembly.h"
#include "dialogs/frm_config.h"
#include "lookup/phone_number.h"
#include "platform/failure.h"
#include "support/fake_env.h"

namespace pellory::testing {
namespace {

// What OK writes over a record without settings, the dialog untouched.
constexpr char16_t kDefaults[] =
    u"{Caption(S9)=Maximizer}{Dbfile(S9)=(Default)}{UseSQL(S5)=False}{Phone1(N1)=1}"
    u"{Phone2(N1)=1}{Phone3(N1)=1}{Phone4(N1)=1}";

const Control& Find(const ModalForm& form, TextView name, int index = -1) {
  for (const Control& c : form.Controls()) {
    if (c.name == name && c.index == index) return c;
  }
  throw Failure(u"no control " + Text(name));
}

int EntryOf(const Control& list, TextView entry) {
  for (size_t i = 0; i < list.list.size(); ++i) {
    if (list.list[i] == entry) return static_cast<int>(i);
  }
  ADD_FAILURE() << "no entry " << U8(entry);
  return -1;
}

TEST(NumberMatchSettings, RoundTripThroughTheDialog) {
  struct Case {
    const char* what;
    Text territory;  // of the user's locale
    Text record, page;
    bool shown_checked;
    Text shown_region;
    bool toggle;   // the person clicks the check box
    Text pick;     // the person picks this entry; empty: untouched
    Text written;  // what OK adds after the defaults
  } cases[] = {
      {"no keys: the record OK always wrote", u"GB", u"{Other=x}", u"", false,
       u"United Kingdom (GB)", false, u"", u""},
      {"Any and DE", u"GB", u"{NumberMatch=Any}{Region=DE}", u"", true, u"Germany (DE)", false, u"",
       u"{NumberMatch(S3)=Any}{Region(S2)=DE}"},
      {"exact in lower case", u"GB", u"{NumberMatch=exact}", u"", false, u"United Kingdom (GB)",
       false, u"", u"{NumberMatch(S5)=Exact}"},
      {"any in capitals and blanks, ticked off", u"GB", u"{NumberMatch(S5)= ANY }", u"", true,
       u"United Kingdom (GB)", true, u"", u"{NumberMatch(S5)=Exact}"},
      {"unknown region kept", u"GB", u"{Region=XX}", u"", false, u"United Kingdom (GB)", false, u"",
       u"{Region(S2)=XX}"},
      {"junk region kept without a locale region", u"", u"{Region(S4)=\u00c5?!1}", u"", false, u"",
       false, u"", u"{Region(S4)=\u00c5?!1}"},
      {"unknown region replaced by a pick", u"GB", u"{Region=001}", u"", false,
       u"United Kingdom (GB)", false, u"France (FR)", u"{Region(S2)=FR}"},
      {"locale default, ticked on", u"FR", u"", u"", false, u"France (FR)", true, u"",
       u"{NumberMatch(S3)=Any}"},
      {"locale default picked again", u"FR", u"", u"", false, u"France (FR)", false, u"France (FR)",
       u""},
      {"another region than the locale's", u"FR", u"", u"", false, u"France (FR)", false,
       u"\u00c5land Islands (AX)", u"{Region(S2)=AX}"},
      {"stored region equal to the locale's stays", u"GB", u"{Region=GB}", u"", false,
       u"United Kingdom (GB)", false, u"", u"{Region(S2)=GB}"},
      {"a name or lower-case code reads as its region", u"GB", u"{Region= germany }", u"", false,
       u"Germany (DE)", false, u"", u"{Region(S2)=DE}"},
      {"locale without a region", u"", u"", u"", false, u"", false, u"", u""},
      {"locale region that is no country", u"001", u"", u"", false, u"", false, u"", u""},
      {"the deadline, which the dialog does not show, is kept", u"GB", u"{Timeout(N1)=5}", u"",
       false, u"United Kingdom (GB)", false, u"", u"{Timeout(N1)=5}"},
      {"user page: hidden, kept, not reachable", u"GB", u"{NumberMatch=any}{Region=de}", u"user",
       true, u"Germany (DE)", true, u"Japan (JP)", u"{NumberMatch(S3)=Any}{Region(S2)=DE}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeEnv env;
    env.fake_regional.territory = c.territory;
    Session session(env, WireSubsystems);
    env.fake_dialogs.run = [&](ModalForm& f) {
      const Control& check = Find(f, u"NumberMatch");
      const Control& region = Find(f, u"Region");
      EXPECT_EQ(check.value, c.shown_checked ? kChecked : kUnchecked);
      EXPECT_EQ(region.text, c.shown_region);
      EXPECT_EQ(region.list_index < 0, c.shown_region.empty());
      const bool user_page = c.page == u"user";
      EXPECT_EQ(IsShown(f, check), !user_page);
      EXPECT_EQ(IsShown(f, region), !user_page);
      if (c.toggle) f.Clicked({u"NumberMatch"});
      if (!c.pick.empty()) f.SelectionChanged({u"Region"}, EntryOf(region, c.pick));
      f.Clicked({u"OK"});
    };
    Text rd = c.record, page = c.page;
    EXPECT_EQ(U8(session.Configure(rd, page)), U8(kDefaults + c.written));
    EXPECT_TRUE(env.trace_file.lines.empty()) << U8(env.trace_file.lines.front());
  }
}

// "SqlFilter": the check box beneath the SQL server, usable only with SQL
// mode chosen, and what OK writes (nothing for a record that never had it,
// unless ticked).
TEST(NumberMatchSettings, ServerFilterRoundTrip) {
  const Text server = u"{Connection(S23)={Connect(S9)=DSN=Sales}}";
  const Text sql = u"{UseSQL(S4)=True}" + server;
  struct Case {
    const char* what;
    Text record, page;
    bool shown_checked, enabled;
    const char16_t* option;  // the person chooses this mode first; nullptr: untouched
    bool toggle;
    Text written;  // what OK writes after Phone4
  } cases[] = {
      {"never stored, file mode", u"", u"", false, false, nullptr, false, u""},
      {"file mode: the box cannot be ticked", u"", u"", false, false, nullptr, true, u""},
      {"never stored, SQL mode, ticked", sql, u"", false, true, nullptr, true,
       u"{SqlFilter(S6)=Server}"},
      {"stored in any case", sql + u"{SqlFilter= server }", u"", true, true, nullptr, false,
       u"{SqlFilter(S6)=Server}"},
      {"ticked off", sql + u"{SqlFilter=Server}", u"", true, true, nullptr, true,
       u"{SqlFilter(S6)=Client}"},
      {"unknown value shown unticked", sql + u"{SqlFilter=Sometimes}", u"", false, true, nullptr,
       false, u"{SqlFilter(S6)=Client}"},
      {"SQL mode chosen, then ticked", server, u"", false, false, u"bConn", true,
       u"{SqlFilter(S6)=Server}"},
      {"data directory chosen: kept, no longer usable", sql + u"{SqlFilter=Server}", u"", true,
       true, u"bData", true, u"{SqlFilter(S6)=Server}"},
      {"user page: hidden and kept", sql + u"{SqlFilter=Server}", u"user", true, true, nullptr,
       true, u"{SqlFilter(S6)=Server}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeEnv env;
    env.fake_regional.territory = u"GB";
    Session session(env, WireSubsystems);
    env.fake_dialogs.run = [&](ModalForm& f) {
      const Control& check = Find(f, u"SqlFilter");
      EXPECT_EQ(check.value, c.shown_checked ? kChecked : kUnchecked);
      EXPECT_EQ(check.enabled, c.enabled);
      EXPECT_EQ(IsShown(f, check), c.page != u"user");
      if (c.option) f.Clicked({c.option});
      if (c.toggle) f.Clicked({u"SqlFilter"});
      f.Clicked({u"OK"});
    };
    Text rd = c.record, page = c.page;
    const Text out = session.Configure(rd, page);
    const size_t after = out.find(u"{Phone4(N1)=1}");
    ASSERT_NE(after, Text::npos) << U8(out);
    Text tail = out.substr(after + 14);
    // The user page and SQL mode keep the rest of the record as they are.
    const size_t user = tail.find(u"{DBUser");
    if (user != Text::npos) tail.erase(user, tail.find(u"}", user) - user + 1);
    EXPECT_EQ(U8(tail), U8(c.written));
  }
}

TEST(NumberMatchSettings, HomeCountriesAreTheGeographicRegionsByName) {
  FakeEnv env;
  Text rd;
  FrmConfig form(env, rd);
  form.Form_Load();
  const Control& region = Find(form, u"Region");
  ASSERT_GE(region.list.size(), 240u);
  ASSERT_EQ(region.item_data.size(), region.list.size());
  // By name, accents aside; each entry names its region's code.
  EXPECT_EQ(region.list[0], u"Afghanistan (AF)");
  EXPECT_EQ(region.list[1], u"\u00c5land Islands (AX)");
  EXPECT_EQ(region.list[2], u"Albania (AL)");
  EXPECT_EQ(region.list.back(), u"Zimbabwe (ZW)");
  for (const Text& entry : region.list) {
    ASSERT_GE(entry.size(), 6u);
    const Text code = entry.substr(entry.size() - 3, 2);
    const lookup::RegionInfo* info = lookup::FindRegion(code);
    ASSERT_NE(info, nullptr) << U8(entry);
    EXPECT_EQ(entry, Text(info->name) + u" (" + code + u")");
  }
}

// A control beneath a later container that is shown over its whole area,
// as the explanation beneath the search settings: the views hide it.
bool Beneath(const ModalForm& form, const Control& c) {
  const auto& cs = form.Controls();
  for (auto it = cs.begin() + (&c - cs.data()) + 1; it != cs.end(); ++it) {
    if (it->kind == ControlKind::kContainer && it->tab == c.tab && IsShown(form, *it) &&
        c.container != it->name && c.x >= it->x && c.y >= it->y &&
        c.x + c.width <= it->x + it->width && c.y + c.height <= it->y + it->height) {
      return true;
    }
  }
  return false;
}

// No two controls a person sees at once overlap, and each sits inside the
// form: on the Lookup tab with its settings shown or hidden, and on the User
// tab. Both front ends lay controls out by these cells.
TEST(NumberMatchSettings, NoShownControlsOverlap) {
  for (const Text page : {u"", u"USER"}) {
    FakeEnv env;
    Text rd = u"{Page=" + page + u"}";
    FrmConfig form(env, rd);
    form.Form_Load();
    const Control& tabs = Find(form, u"Tabs");
    for (int tab = 0; tab < static_cast<int>(tabs.list.size()); ++tab) {
      std::vector<const Control*> seen;
      for (const Control& c : form.Controls()) {
        if ((c.tab >= 0 && c.tab != tab) || !IsShown(form, c) || Beneath(form, c)) continue;
        if (c.kind == ControlKind::kContainer || c.kind == ControlKind::kTabControl) continue;
        if (c.tab >= 0) {
          EXPECT_TRUE(c.x > tabs.x && c.y > tabs.y && c.x + c.width < tabs.x + tabs.width &&
                      c.y + c.height < tabs.y + tabs.height)
              << U8(c.name) << " leaves the tab";
        } else {
          EXPECT_GE(c.y, tabs.y + tabs.height) << U8(c.name) << " lies on the tab";
        }
        // A frame's own controls lie inside it; anything else beside it.
        for (const Control* o : seen) {
          if (c.container == o->name || o->container == c.name) continue;
          const bool apart = c.x >= o->x + o->width || o->x >= c.x + c.width ||
                             c.y >= o->y + o->height || o->y >= c.y + c.height;
          EXPECT_TRUE(apart) << U8(c.name) << " overlaps " << U8(o->name) << " on tab " << tab
                             << " of page " << U8(page);
        }
        seen.push_back(&c);
      }
    }
  }
}

}  // namespace
}  // namespace pellory::testing
