#include <gtest/gtest.h>

#include "common/text_encoding.h"
#include "config/installation.h"
#include "config/options.h"
#include "db/error_of.h"
#include "support/fake_platform.h"

namespace scourex {
namespace {

using testing::FakePlatform;

struct OptionsFixture : ::testing::Test {
  FakePlatform platform;
  std::string options_file_name = "Orvanta.ini";
  Settings settings;
  Logger log{platform, options_file_name, settings.LogFile};

  OptionsFixture() {
    platform.current_dir = "/opt/site";
    DefaultOptions(settings);
  }
  void Read(const std::string& text) {
    platform.files["/opt/site/Orvanta.ini"] = text;
    ReAdoptions(settings, platform, log, "/opt/site/Orvanta.ini");
  }
  std::vector<std::string> LogLines() { return platform.Lines("/opt/site/Scourex.log"); }
};

TEST_F(OptionsFixture, KeysValuesCommentsAndSections) {
  Read("[Scourex]\r\n"
       "visitormonths = 6\r\n"
       ";EventMonths=1\r\n"
       "  ;DeleteAlsoCardholder=1\r\n"  // not a comment: its key has a leading ';'
       "SQL_Connect = Provider=SQLOLEDB;Data Source=srv;Password=a=b \r\n"
       "no equals sign here\r\n"
       "Unknown=5\r\n"
       "\r\n"
       "EVENTMONTHS=4\rEventMonths=5\n"
       "DbsFolder=/data/site\r\n"
       "LogFile=\tjob.log");
  EXPECT_EQ(settings.VisitorMonths, 6);
  EXPECT_EQ(settings.EventMonths, 5);  // the last occurrence wins; CR and LF alone end lines
  EXPECT_FALSE(settings.DeleteAlsoCardholder);
  EXPECT_EQ(settings.SQL_Connect, "Provider=SQLOLEDB;Data Source=srv;Password=a=b");
  EXPECT_EQ(settings.DbsFolder, "/data/site/");
  EXPECT_EQ(settings.LogFile, "\tjob.log");  // tabs are not trimmed
  EXPECT_EQ(settings.DBType, 1);
  EXPECT_TRUE(LogLines().empty());
}

// The file as Notepad or PowerShell saves it in UTF-16, with its byte-order mark.
std::string Utf16(const std::string& utf8, bool little_endian) {
  std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += little_endian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

TEST_F(OptionsFixture, EveryEncodingNotepadAndPowerShellSave) {
  const std::string lines = "DBType=2\r\nSQL_Connect=Password=Grüß €𝄞\r\nDbsFolder=/d\r\n";
  const std::pair<const char*, std::string> files[] = {
      {"UTF-16 LE", Utf16(lines, true)},
      {"UTF-16 BE", Utf16(lines, false)},
      {"UTF-8 with its mark", "\xEF\xBB\xBF" + lines},
      {"UTF-8", lines},
      // The mark is dropped even when the rest is not UTF-8: the first key is not lost.
      {"UTF-8 mark, then Windows-1252",
       "\xEF\xBB\xBF" "DBType=2\r\nSQL_Connect=Password=Gr\xFC\xDF \x80\r\nDbsFolder=/d\r\n"},
  };
  for (const auto& [encoding, bytes] : files) {
    DefaultOptions(settings);
    settings.DBType = 1;
    Read(bytes);
    EXPECT_EQ(settings.DBType, 2) << encoding;
    EXPECT_EQ(settings.SQL_Connect, std::string(encoding).find("1252") != std::string::npos ? "Password=Grüß €"
                                                                                         : "Password=Grüß €𝄞")
        << encoding;
    EXPECT_EQ(settings.DbsFolder, "/d/") << encoding;
  }
  Read("SQL_Connect=Password=Gr\xFC\xDF \x80\x81\r\n");  // Windows-1252 without a mark
  EXPECT_EQ(settings.SQL_Connect, "Password=Grüß €\xC2\x81");
  EXPECT_TRUE(LogLines().empty());

  // NUL bytes without a mark cannot be text: an error line naming the file, nothing read.
  settings = Settings{};
  DefaultOptions(settings);
  Read(std::string("D\0B\0T\0y\0p\0e\0=\0002\0", 16));
  EXPECT_EQ(settings.DBType, 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"2026-12-01 00:00:00 *** Error #  321 - The options file "
                                                 "'/opt/site/Orvanta.ini' is not text: it holds NUL bytes and no "
                                                 "byte-order mark. Save it as ANSI, UTF-8 or Unicode text, as Notepad "
                                                 "does. *** Options ReAdoptions"});
}

TEST_F(OptionsFixture, DeleteAlsoCardholderIsTrueOnlyForOne) {
  for (auto [value, expected] : std::vector<std::pair<std::string, bool>>{
           {"1", true}, {"  1  ", true}, {"01", false}, {"-1", false}, {"true", false}, {"yes", false}, {"", false}}) {
    Read("DeleteAlsoCardholder=" + value);
    EXPECT_EQ(settings.DeleteAlsoCardholder, expected) << value;
  }
}

TEST_F(OptionsFixture, NormalisationAfterAFileReadToItsEnd) {
  Read("DBType=7\r\nLogFile=\r\n");
  EXPECT_EQ(settings.DBType, 1);
  EXPECT_EQ(settings.LogFile, "Scourex.Log");
  Read("DBType=2");
  EXPECT_EQ(settings.DBType, 2);
  Read("DBType=-1\r\nDbsFolder=");
  EXPECT_EQ(settings.DBType, 1);
  EXPECT_EQ(settings.DbsFolder, "");
}

TEST_F(OptionsFixture, ABadIntegerEndsTheFileAndSkipsNormalisation) {
  for (const std::string bad : {"abc", "", "3 ;three months"}) {
    settings = Settings{};
    DefaultOptions(settings);
    platform.files.erase("/opt/site/Scourex.log");
    Read("VisitorMonths=9\r\nDbsFolder=/d\r\nEventMonths=" + bad + "\r\nVisitorMonths=1\r\n");
    EXPECT_EQ(settings.VisitorMonths, 9) << bad;
    EXPECT_EQ(settings.EventMonths, 3) << bad;
    EXPECT_EQ(settings.DbsFolder, "/d") << bad;  // no separator appended
    EXPECT_EQ(settings.DBType, 0) << bad;
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0], "2026-12-01 00:00:00 *** Error #  13 - Type mismatch *** Options ReAdoptions");
  }
  EXPECT_EQ(platform.beeps, 6);
}

TEST_F(OptionsFixture, MissingFilesAndFolders) {
  ReAdoptions(settings, platform, log, "/opt/site/none.ini");
  ReAdoptions(settings, platform, log, "/opt/nowhere/none.ini");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "2026-12-01 00:00:00 *** Error #  53 - File not found *** Options ReAdoptions",
                            "2026-12-01 00:00:00 *** Error #  76 - Path not found *** Options ReAdoptions"}));
  EXPECT_EQ(settings.DBType, 0);
  EXPECT_EQ(settings.VisitorMonths, 2);
}

TEST_F(OptionsFixture, OverlongLines) {
  const std::string filler(32767, 'x');
  Read(filler.substr(0, 32766) + "\r\nEventMonths=7");  // 32766 characters without "=": skipped
  EXPECT_EQ(settings.EventMonths, 7);
  Read(filler + "\r\nEventMonths=8");  // 32767 without "=": overflow
  EXPECT_EQ(settings.EventMonths, 7);
  Read("EventMonths=9\r\nLogFile" + std::string(32759, ' ') + "=");  // "=" at 32767 of a known key
  EXPECT_EQ(settings.EventMonths, 9);
  EXPECT_EQ(settings.LogFile, "Scourex.log");
  Read("Other" + std::string(32761, ' ') + "=\r\nEventMonths=10");  // same place, unknown key: skipped
  EXPECT_EQ(settings.EventMonths, 10);
  Read(";" + filler + filler + "\r\nEventMonths=11");  // comments are skipped whatever their length
  EXPECT_EQ(settings.EventMonths, 11);
  Read(filler + "=1");  // longer than 32767
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_EQ(line, "2026-12-01 00:00:00 *** Error #  6 - Overflow *** Options ReAdoptions");
}

TEST(ConvertInteger, NumbersAsTheClassicRuntimeConvertsThem) {
  const std::pair<const char*, int> numbers[] = {{"6", 6},     {"\t-12\t", -12},   {"2.5", 2} /* half to even */,
                                                 {"3.5", 4},   {"1e2", 100},        {"&H10", 16},
                                                 {"&HFFFF", -1}, {"32767", 32767}, {"-32768", -32768}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(ConvertInteger(text), value) << text;
  auto error_number = [](const char* text) { return db::ErrorOf([&] { ConvertInteger(text); }).number(); };
  for (const char* overflow : {"32768", "-32769", "1e9", "32767.5", "&H10000"}) EXPECT_EQ(error_number(overflow), 6) << overflow;
  for (const char* mismatch : {"", "abc", "1 2", "1e", ".", "&H", "&HXYZ", "0x10", "--1"})
    EXPECT_EQ(error_number(mismatch), 13) << mismatch;
}

TEST(Installation, MarkerFilesAndFolders) {
  EXPECT_EQ(ProductBaseFrom({"ORVANTA.NAM", "Scourex.log"}), "Orvanta");
  EXPECT_EQ(ProductBaseFrom({"helmGate.nam"}), "Helmgate");
  EXPECT_EQ(ProductBaseFrom({"Site7.nam"}), "Site7");
  EXPECT_EQ(ProductBaseFrom({"b.nam", "a.NAM", "B.nam"}), "B");  // first in byte order
  EXPECT_EQ(ProductBaseFrom({"readme.txt", "nam", ".nam.txt"}), "");
  EXPECT_EQ(AppFolderFor("/opt/site", '/'), "/opt/site/");
  EXPECT_EQ(AppFolderFor("D:\\DEV\\Orvanta\\Sources\\smallprojects\\Scourex", '\\'), "D:\\DEV\\Orvanta\\");
  EXPECT_EQ(AppFolderFor("D:\\DEV\\Orvanta\\Sources\\smallprojects\\scourex", '\\'),
            "D:\\DEV\\Orvanta\\Sources\\smallprojects\\scourex\\");
  EXPECT_EQ(StripExtension("scourex"), "scourex");
  EXPECT_EQ(StripExtension("Scourex.exe"), "Scourex");
}

}  // namespace
}  // namespace scourex
