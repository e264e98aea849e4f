// Unit tests of the localized text tables: language choice, slot layout and the details of
// the texts that are easy to get wrong (line breaks, punctuation forms, blanks, spelling).
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "ui/texts.h"

namespace {

constexpr unsigned short kSimplified = 0x0804;
constexpr unsigned short kTraditional = 0x0404;
constexpr unsigned short kRussian = 0x0419;
constexpr unsigned short kEnglishUs = 0x0409;

std::u16string Text(unsigned short lang, int row) { return TextForLanguage(lang, row); }

// One language table: how it is selected and how wide its slots are.
struct Table {
  const char* name;
  unsigned short lang;
  int slot;                 // code units per row
  std::set<int> crlfRows;   // rows that hold exactly one CR LF line break
  std::set<int> blankEnd;   // rows that end with a blank
  int longestRow;
  size_t longestLength;
};

const Table kTables[] = {
    {"English", kEnglishUs, 64, {8}, {14, 15}, 8, 58},
    {"Simplified", kSimplified, 64, {5, 8, 11}, {}, 5, 26},
    {"Traditional", kTraditional, 64, {5, 8, 11}, {}, 5, 26},
    {"Russian", kRussian, 256, {5, 8}, {11, 20}, 8, 81},
};

std::string TableName(const testing::TestParamInfo<Table>& info) { return info.param.name; }

// ---- Language choice --------------------------------------------------------------------

struct LanguageCase {
  unsigned short lang;
  const char16_t* row1;   // tells English, Chinese and Russian apart
  const char16_t* row2;   // tells Simplified from Traditional Chinese
};

class LanguageChoice : public testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageChoice, PicksTableByExactIdentifier) {
  const LanguageCase& c = GetParam();
  EXPECT_EQ(Text(c.lang, 1), c.row1);
  EXPECT_EQ(Text(c.lang, 2), c.row2);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LanguageChoice,
    testing::Values(
        LanguageCase{0x0804, u"退出", u"升级"},       // Chinese (PRC)
        LanguageCase{0x0404, u"退出", u"升級"},       // Chinese (Taiwan)
        LanguageCase{0x0419, u"Выход", u"Обновить"},  // Russian (Russia)
        LanguageCase{0x0409, u"Exit", u"Update"},     // English (US)
        // Same primary language, other sublanguage: English all the same.
        LanguageCase{0x0C04, u"Exit", u"Update"},     // Chinese (Hong Kong)
        LanguageCase{0x1004, u"Exit", u"Update"},     // Chinese (Singapore)
        LanguageCase{0x1404, u"Exit", u"Update"},     // Chinese (Macau)
        LanguageCase{0x0819, u"Exit", u"Update"},     // Russian (Moldova)
        LanguageCase{0x0004, u"Exit", u"Update"},     // Chinese, neutral
        LanguageCase{0x0019, u"Exit", u"Update"},     // Russian, neutral
        LanguageCase{0x0000, u"Exit", u"Update"},
        LanguageCase{0xFFFF, u"Exit", u"Update"}),
    [](const testing::TestParamInfo<LanguageCase>& info) {
      char name[16];
      snprintf(name, sizeof name, "Lang%04X", info.param.lang);
      return std::string(name);
    });

TEST(LanguageChoiceFallback, EveryOtherLanguageGetsTheEnglishRows) {
  for (int row = 0; row < kTextRows; ++row) {
    EXPECT_EQ(TextForLanguage(0x0C04, row), TextForLanguage(kEnglishUs, row)) << row;
    EXPECT_EQ(TextForLanguage(0x0819, row), TextForLanguage(kEnglishUs, row)) << row;
  }
}

// ---- Layout and properties of every table ----------------------------------------------

class TableLayout : public testing::TestWithParam<Table> {};

TEST_P(TableLayout, RowsAreFixedSlotsNulTerminatedAndZeroFilled) {
  const Table& t = GetParam();
  const char16_t* base = TextForLanguage(t.lang, 0);
  for (int row = 0; row < kTextRows; ++row) {
    const char16_t* text = TextForLanguage(t.lang, row);
    ASSERT_EQ(text, base + row * t.slot) << "row " << row;
    size_t length = std::char_traits<char16_t>::length(text);
    ASSERT_LT(length, static_cast<size_t>(t.slot)) << "row " << row << " has no terminator";
    for (int i = static_cast<int>(length); i < t.slot; ++i)
      ASSERT_EQ(text[i], 0) << "row " << row << ", unit " << i;
    if (row < kTextRows - 1) {
      EXPECT_GT(length, 0u) << "row " << row;
    }
  }
  EXPECT_EQ(Text(t.lang, kTextRows - 1), u"");
}

TEST_P(TableLayout, LongestTextFitsItsSlot) {
  const Table& t = GetParam();
  size_t longest = 0;
  int where = -1;
  for (int row = 0; row < kTextRows; ++row) {
    size_t length = Text(t.lang, row).size();
    if (length > longest) longest = length, where = row;
  }
  EXPECT_EQ(where, t.longestRow);
  EXPECT_EQ(longest, t.longestLength);
}

TEST_P(TableLayout, LineBreaksAreCrLfPairsExactlyWhereExpected) {
  const Table& t = GetParam();
  for (int row = 0; row < kTextRows; ++row) {
    std::u16string s = Text(t.lang, row);
    int pairs = 0, lone = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') {
        ++pairs, ++i;
      } else if (s[i] == u'\r' || s[i] == u'\n') {
        ++lone;
      }
    }
    EXPECT_EQ(lone, 0) << "row " << row;
    EXPECT_EQ(pairs, t.crlfRows.count(row) ? 1 : 0) << "row " << row;
  }
}

TEST_P(TableLayout, BlanksStandOnlyWhereTheTextsHaveThem) {
  const Table& t = GetParam();
  for (int row = 0; row + 1 < kTextRows; ++row) {
    std::u16string s = Text(t.lang, row);
    EXPECT_NE(s.front(), u' ') << "row " << row;
    EXPECT_EQ(s.back() == u' ', t.blankEnd.count(row) == 1) << "row " << row;
    EXPECT_EQ(s.find(u"  "), std::u16string::npos) << "row " << row;
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, TableLayout, testing::ValuesIn(kTables), TableName);

// ---- Punctuation forms ------------------------------------------------------------------

// Chinese texts use full-width comma, exclamation mark and full stop, and the full-width
// colon after the network-status words; the only ASCII colon is the one after "USB状态" /
// "USB狀態", followed by a blank. The dots of "..." stay ASCII.
TEST(ChinesePunctuation, FullWidthFormsExceptTheUsbStateColon) {
  for (unsigned short lang : {kSimplified, kTraditional}) {
    for (int row = 0; row + 1 < kTextRows; ++row) {
      std::u16string s = Text(lang, row);
      for (char16_t ascii : {u',', u'!', u'.', u';'}) {
        std::u16string rest = s;
        for (size_t p; (p = rest.find(u"...")) != std::u16string::npos;) rest.erase(p, 3);
        EXPECT_EQ(rest.find(ascii), std::u16string::npos)
            << std::hex << lang << std::dec << " row " << row << " has ASCII " << char(ascii);
      }
      size_t colon = s.find(u':');
      if (row == 3 || row == 4 || row == 12) {
        ASSERT_NE(colon, std::u16string::npos) << row;
        EXPECT_EQ(s.substr(3, 4), lang == kSimplified ? u"状态: " : u"狀態: ") << row;
        EXPECT_EQ(colon, 5u) << row;
      } else {
        EXPECT_EQ(colon, std::u16string::npos) << std::hex << lang << std::dec << " row " << row;
      }
      bool network = row >= 17 && row <= 19;
      EXPECT_EQ(s.find(u'\uFF1A') == 4, network) << std::hex << lang << std::dec << " row " << row;
    }
  }
}

// Russian: a single ellipsis character in rows 12, 15 to 18 and never three dots; the
// full-width exclamation mark only in rows 3 and 4.
TEST(RussianPunctuation, EllipsisAndFullWidthExclamationRows) {
  const std::set<int> ellipsis = {12, 15, 16, 17, 18};
  const std::set<int> fullWidthBang = {3, 4};
  for (int row = 0; row + 1 < kTextRows; ++row) {
    std::u16string s = Text(kRussian, row);
    EXPECT_EQ(s.find(u"..."), std::u16string::npos) << row;
    EXPECT_EQ(s.find(u'\u2026') != std::u16string::npos, ellipsis.count(row) == 1) << row;
    EXPECT_EQ(s.find(u'\uFF01') != std::u16string::npos, fullWidthBang.count(row) == 1) << row;
  }
}

// ---- Exact texts of the rows easiest to get wrong ----------------------------------------

struct ExactCase {
  unsigned short lang;
  int row;
  const char16_t* text;
};

class ExactText : public testing::TestWithParam<ExactCase> {};

TEST_P(ExactText, MatchesUnitForUnit) {
  const ExactCase& c = GetParam();
  EXPECT_EQ(Text(c.lang, c.row), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExactText,
    testing::Values(
        ExactCase{kEnglishUs, 5, u"Disconnected, Please check the connection!"},
        ExactCase{kEnglishUs, 6, u"Update"},
        ExactCase{kEnglishUs, 8, u"USB connect error, failed to update!\r\nPlease reconnect it."},
        ExactCase{kEnglishUs, 11, u"Upload file finish, update successful!Please reboot."},
        ExactCase{kEnglishUs, 12, u"USB state: Searching..."},
        ExactCase{kEnglishUs, 14, u"Install the usb drive successful! "},
        ExactCase{kEnglishUs, 15, u"USB raises an exception, the App will exit. "},
        ExactCase{kEnglishUs, 18, u"Network status: Can't connect to ftp"},
        ExactCase{kEnglishUs, 19, u"Network status: Faild to download data"},
        ExactCase{kSimplified, 3, u"USB状态: 主机与电脑连接成功\uFF01"},
        ExactCase{kSimplified, 5, u"USB没连接\r\n请检查电子设备与电脑是不是连接正常\uFF01"},
        ExactCase{kSimplified, 8, u"USB连接出错\uFF0C升级失败\uFF01\r\n请重新连接USB\u3002"},
        ExactCase{kSimplified, 17, u"网络状态\uFF1A已连接到站点\uFF0C正在下载数据..."},
        ExactCase{kSimplified, 20, u"数据更新完成\uFF0C请重启设备"},
        ExactCase{kTraditional, 6, u"資料更新"},
        ExactCase{kTraditional, 11, u"文件上傳完成\uFF0C升級成功\uFF01\r\n請重啟設備\u3002"},
        ExactCase{kTraditional, 12, u"USB狀態: 正在搜索USB設備..."},
        ExactCase{kTraditional, 15, u"USB異常中斷\uFF0C程式將退出\uFF0C請重新連接USB\u3002"},
        ExactCase{kTraditional, 20, u"資料更新成功\uFF0C請重啟設備"},
        ExactCase{kRussian, 0, u"USB drive setup"},
        ExactCase{kRussian, 3, u"USB-статус: подключено\uFF01"},
        ExactCase{kRussian, 6, u"Обновить"},
        ExactCase{kRussian, 8,
                  u"Ошибка подключения, не удалось обновить! \r\n"
                  u"Пожалуйста, переподключите устройство."},
        ExactCase{kRussian, 11, u"Обновление установлено! "},
        ExactCase{kRussian, 12, u"USB-статус: поиск USB-устройства\u2026"},
        ExactCase{kRussian, 14, u"Установка USB-drive прошла успешно."},
        ExactCase{kRussian, 15,
                  u"Ошибка, выход из приложения\u2026 Пожалуйста, переподключите устройство."},
        ExactCase{kRussian, 17, u"Статус ести: соединено, идет загрузка\u2026"},
        ExactCase{kRussian, 20, u"Обновлено успешно. "}));

}  // namespace
