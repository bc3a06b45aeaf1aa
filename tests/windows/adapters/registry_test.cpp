// The registry over the ANSI calls, against Wine's real registry.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/win32/ansi_text.h"
#include "platform/win32/win32_registry.h"

namespace pellory {
namespace {

constexpr RegistryRoot kUser = RegistryRoot::kCurrentUser;
const Text kKey = u"Software\\PelloryAdapterTest";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, ToAnsi(kKey).c_str()); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, ToAnsi(kKey).c_str()); }
  Win32Registry reg;
};

TEST_F(Win32RegistryTest, TextsAndNumbersRoundTripAndKeepTheirKind) {
  reg.SetString(kUser, kKey, u"DBFile", u"C:\\Data\\mxza.max");
  reg.SetDword(kUser, kKey, u"Start", -2);
  EXPECT_EQ(reg.OpenKey(kUser, kKey), Registry::OpenResult::kOk);
  EXPECT_EQ(ToUtf8(reg.QueryString(kUser, kKey, u"dbfile", 2000).value_or(u"?")),
            "C:\\Data\\mxza.max");
  EXPECT_EQ(reg.QueryDword(kUser, kKey, u"Start"), -2);
  // Each kind asked for as the other reads nothing.
  EXPECT_FALSE(reg.QueryDword(kUser, kKey, u"DBFile").has_value());
  EXPECT_FALSE(reg.QueryString(kUser, kKey, u"Start", 2000).has_value());
  // The empty text is a value, not an absent one.
  reg.SetString(kUser, kKey, u"Empty", u"");
  EXPECT_EQ(reg.QueryString(kUser, kKey, u"Empty", 2000), Text());
}

TEST_F(Win32RegistryTest, MissingKeyAndMissingValueAreTold) {
  EXPECT_EQ(reg.OpenKey(kUser, kKey), Registry::OpenResult::kNotFound);
  EXPECT_FALSE(reg.QueryString(kUser, kKey, u"DBFile", 2000).has_value());
  EXPECT_FALSE(reg.QueryDword(kUser, kKey, u"Start").has_value());
  reg.SetDword(kUser, kKey, u"Other", 1);
  EXPECT_EQ(reg.OpenKey(kUser, kKey), Registry::OpenResult::kOk);
  EXPECT_FALSE(reg.QueryString(kUser, kKey, u"DBFile", 2000).has_value());
  EXPECT_FALSE(reg.QueryDword(kUser, kKey, u"Start").has_value());
  EXPECT_EQ(reg.OpenKey(kUser, kKey + u"\\Deeper"), Registry::OpenResult::kNotFound);
}

TEST_F(Win32RegistryTest, ATextMustFitTheBufferWithItsTerminatingNul) {
  reg.SetString(kUser, kKey, u"Fits", Text(1999, u'x'));
  reg.SetString(kUser, kKey, u"TooLong", Text(2000, u'x'));
  EXPECT_EQ(reg.QueryString(kUser, kKey, u"Fits", 2000).value_or(u"").size(), 1999u);
  EXPECT_FALSE(reg.QueryString(kUser, kKey, u"TooLong", 2000).has_value());
  EXPECT_EQ(reg.QueryString(kUser, kKey, u"TooLong", 2001).value_or(u"").size(), 2000u);
  EXPECT_FALSE(reg.QueryString(kUser, kKey, u"Fits", 0).has_value());
}

TEST_F(Win32RegistryTest, NonAsciiTextGoesThroughTheAnsiCodePage) {
  const Text name = u"M\u00fcller caf\u00e9 \u00a3";
  reg.SetString(kUser, kKey, u"Name", name);
  EXPECT_EQ(reg.QueryString(kUser, kKey, u"Name", 2000), name);
  // What the wide calls see is the same text, not its UTF-8 bytes.
  wchar_t wide[64] = {};
  DWORD size = sizeof wide;
  ASSERT_EQ(
      RegGetValueW(HKEY_CURRENT_USER, WidePtr(kKey), L"Name", RRF_RT_REG_SZ, nullptr, wide, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(FromWide(wide, wcslen(wide)), name);
  // A text written by a wide program reads back the same way.
  const Text other = u"\u00c5ngstr\u00f6m";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, WidePtr(kKey), L"Wide", REG_SZ, WidePtr(other),
                            static_cast<DWORD>((other.size() + 1) * 2)),
            ERROR_SUCCESS);
  EXPECT_EQ(reg.QueryString(kUser, kKey, u"Wide", 2000), other);
}

TEST_F(Win32RegistryTest, OnlyKeysWithoutSubkeysAreDeleted) {
  reg.SetString(kUser, kKey + u"\\Child", u"A", u"1");
  EXPECT_FALSE(reg.DeleteKey(kUser, kKey)) << "a key with a subkey stays";
  EXPECT_EQ(reg.OpenKey(kUser, kKey + u"\\Child"), Registry::OpenResult::kOk);
  EXPECT_TRUE(reg.DeleteKey(kUser, kKey + u"\\Child"));
  EXPECT_EQ(reg.OpenKey(kUser, kKey + u"\\Child"), Registry::OpenResult::kNotFound);
  EXPECT_FALSE(reg.DeleteKey(kUser, kKey + u"\\Child"));
  EXPECT_FALSE(reg.DeleteKey(kUser, u""));
  EXPECT_FALSE(reg.DeleteKey(kUser, u"  "));
  EXPECT_EQ(reg.OpenKey(kUser, u"Software"), Registry::OpenResult::kOk);
  EXPECT_TRUE(reg.DeleteKey(kUser, kKey));
}

}  // namespace
}  // namespace pellory
