#include <gtest/gtest.h>

#include <climits>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "support/TempDir.h"

namespace {

ArgumentMap Parse(const char* text, bool allowSlash = true, std::vector<std::string> flags = {}) {
  ArgumentMap m;
  ParseCommandLine(text, m, allowSlash, flags);
  return m;
}

}  // namespace

TEST(CommandLine, OptionsValuesAndPositionals) {
  EXPECT_TRUE(Parse("").empty());
  EXPECT_EQ(Parse("-fsr"), (ArgumentMap{{"fsr", ""}}));
  EXPECT_EQ(Parse("/x 5 -y"), (ArgumentMap{{"x", "5"}, {"y", ""}}));
  EXPECT_EQ(Parse("\"C:\\My Game\\a\" b"), (ArgumentMap{{"0", "C:\\My Game\\a"}, {"1", "b"}}));
  EXPECT_EQ(Parse("-x=5"), (ArgumentMap{{"x=5", ""}}));
  EXPECT_EQ(Parse("-a -b c"), (ArgumentMap{{"a", ""}, {"b", "c"}}));
  EXPECT_EQ(Parse("'x y'"), (ArgumentMap{{"0", "x y"}}));
  // A missing closing quote runs to the end of the text.
  EXPECT_EQ(Parse("-p \"open end"), (ArgumentMap{{"p", "open end"}}));
  // Extra blanks anywhere are skipped; a later option replaces an earlier one.
  EXPECT_EQ(Parse("   -a   1    -a 2  "), (ArgumentMap{{"a", "2"}}));
  // Blanks alone still make one empty positional argument.
  EXPECT_EQ(Parse("   "), (ArgumentMap{{"0", ""}}));
}

TEST(CommandLine, PosixRulesAndFlags) {
  // A slash starts an absolute path, not an option, when slashes are off.
  EXPECT_EQ(Parse("/games/demo -log /tmp/l", false), (ArgumentMap{{"0", "/games/demo"}, {"log", "/tmp/l"}}));
  // Flags never take the next word as their value.
  auto flags = std::vector<std::string>{"fsr", "headless"};
  EXPECT_EQ(Parse("-headless games/demo", false, flags), (ArgumentMap{{"headless", ""}, {"0", "games/demo"}}));
  EXPECT_EQ(Parse("-frames 10 -headless", false, flags), (ArgumentMap{{"frames", "10"}, {"headless", ""}}));
  EXPECT_EQ(Parse("games/demo -fsr", false, flags), (ArgumentMap{{"0", "games/demo"}, {"fsr", ""}}));
}

TEST(CommandLine, JoinQuotesBlankArguments) {
  const char* argv[] = {"-input", "my file.txt", "plain", ""};
  std::string line = JoinCommandLine(4, argv);
  EXPECT_EQ(line, "-input \"my file.txt\" plain \"\"");
  ArgumentMap m;
  ParseCommandLine(line.c_str(), m, false);
  EXPECT_EQ(m["input"], "my file.txt");
  EXPECT_EQ(m["0"], "plain");

  // A word that starts with a quote is quoted too: the rest stays apart.
  const char* quoted[] = {"'x", "-headless", "\"y"};
  line = JoinCommandLine(3, quoted);
  ArgumentMap q;
  ParseCommandLine(line.c_str(), q, false, {"headless"});
  EXPECT_EQ(q, (ArgumentMap{{"0", "'x"}, {"headless", ""}, {"1", "\"y"}})) << line;
}

TEST(DynamicVariables, StoresCopiesByName) {
  CDynamicVariables vars;
  int n = 7;
  EXPECT_TRUE(vars.Get("missing", n));
  EXPECT_EQ(n, 7);
  vars.Set("n", 3);
  EXPECT_FALSE(vars.Get("n", n));
  EXPECT_EQ(n, 3);
  std::string wrongType = "keep";
  EXPECT_TRUE(vars.Get("n", wrongType));
  EXPECT_EQ(wrongType, "keep");
  vars.Set("n", 4);
  vars.Get("n", n);
  EXPECT_EQ(n, 4);
}

TEST(Ini, SectionsKeysAndComments) {
  CIni ini;
  ini.Parse(
      "top=1\r\n"
      "[WINDOW]\r\n"
      "  WIDTH = 1280 \r\n"
      "HEIGHT=720\n"
      "; a comment line\n"
      "key = value ; note\n"
      "dup=a\n"
      "dup=b\n"
      "[Other]\n"
      "x=1\n"
      "[Other]\n"
      "y=2\n"
      "huge=4294967616\n"
      "wrapsToZero=4294967296\n"
      "blank=   \n"
      "last");
  EXPECT_EQ(ini.GetString("", "top"), "1");
  EXPECT_EQ(ini.GetInt("WINDOW", "WIDTH"), 1280);
  EXPECT_EQ(ini.GetInt("WINDOW", "HEIGHT"), 720);
  EXPECT_EQ(ini.GetString("WINDOW", "key"), "value ; note");
  EXPECT_EQ(ini.GetString("WINDOW", "dup"), "b");
  // A section written twice keeps only its last occurrence.
  EXPECT_EQ(ini.GetString("Other", "x", "absent"), "absent");
  EXPECT_EQ(ini.GetString("Other", "y"), "2");
  // Only blanks: left as they are, so GetBool sees a value and answers false.
  EXPECT_EQ(ini.GetString("Other", "blank"), "   ");
  EXPECT_FALSE(ini.GetBool("Other", "blank", true));
  // A last line without '=' or line feed is still a key.
  EXPECT_EQ(ini.GetString("Other", "last", "absent"), "");
  EXPECT_EQ(ini.GetInt("Nope", "x"), 0);
  EXPECT_TRUE(ini.GetBool("Nope", "x", true));
  EXPECT_TRUE(ini.GetBool("Other", "y", false));
  // Past the int range a number saturates, as in scripts; it never wraps
  // round to a small width or to false.
  EXPECT_EQ(ini.GetInt("Other", "huge"), INT_MAX);
  EXPECT_TRUE(ini.GetBool("Other", "wrapsToZero", false));
  // Case matters.
  EXPECT_EQ(ini.GetString("window", "WIDTH", "none"), "none");
}

// Each side of the window that cannot be made takes its own default.
TEST(Ini, WindowSizeFallsBackOneSideAtATime) {
  struct Case {
    const char* text;
    int width, height;
    bool fellBack;
  } cases[] = {
      {"[WINDOW]\nWIDTH=1280\nHEIGHT=720\n", 1280, 720, false},
      {"[WINDOW]\nWIDTH=300\n", 300, 600, true},
      {"[WINDOW]\nHEIGHT=16384\nWIDTH=16385\n", 800, 16384, true},
      {"[WINDOW]\nWIDTH=-1\nHEIGHT=0\n", 800, 600, true},
      {"[SYSTEM]\nBOOT=a.iet\n", 800, 600, true},
  };
  for (const Case& c : cases) {
    CIni ini;
    ini.Parse(c.text);
    const CWindowSize size = WindowSizeFromIni(&ini);
    EXPECT_EQ(size.width, c.width) << c.text;
    EXPECT_EQ(size.height, c.height) << c.text;
    EXPECT_EQ(size.fellBack, c.fellBack) << c.text;
  }
  const CWindowSize none = WindowSizeFromIni(nullptr);
  EXPECT_EQ(none.width, 800);
  EXPECT_EQ(none.height, 600);
  EXPECT_FALSE(none.fellBack);
}

TEST(Ini, DoubleByteCharactersStayWhole) {
  // 0x95 0x5C and 0x83 0x5D: trail bytes equal to '\' and ']'.
  std::string text = "[\x95\x5C\x83\x5D]\n\x95\x5Ckey=\x83\x5Dv\n";
  CIni ini;
  ini.Parse(text.c_str());
  EXPECT_EQ(ini.GetString("\x95\x5C\x83\x5D", "\x95\x5Ckey"), "\x83\x5Dv");
  // A backslash outside a character takes the next byte literally.
  ini.Parse("[a\\]b]\nk\\=x=1\n");
  EXPECT_EQ(ini.GetString("a]b", "k=x"), "1");
}

TEST(Ini, TrimmingKeepsTheSecondHalfOfACharacter) {
  // 0x81 0x09, 0x81 0x20 and 0x81 0x0D: trail bytes equal to a tab, a space
  // and a carriage return end a value or key; they are text, not blanks.
  CIni ini;
  ini.Parse("[SYSTEM]\nBOOT=b\x81\t\nk\x81 =v\x81 \n");
  EXPECT_EQ(ini.GetString("SYSTEM", "BOOT"), "b\x81\t");
  EXPECT_EQ(ini.GetString("SYSTEM", "k\x81 "), "v\x81 ");
  ini.Parse("[S]\nBOOT=b\x81\r\n");
  EXPECT_EQ(ini.GetString("S", "BOOT"), "b\x81\r");
  // Blanks after the last character still go.
  ini.Parse("[S]\nBOOT = b\x81\x40 \t\r\n");
  EXPECT_EQ(ini.GetString("S", "BOOT"), "b\x81\x40");
}

TEST(Ini, LoadIsCachedAndMissingFilesAreRetried) {
  TempDir dir;
  ScopedCurrentDir cd(dir.Path());
  EXPECT_EQ(LoadIni("late.ini"), nullptr);
  dir.Write("late.ini", "[A]\nk=1\n");
  CIni* first = LoadIni("late.ini");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetFileName(), "late.ini");
  dir.Write("late.ini", "[A]\nk=2\n");
  CIni* second = LoadIni("late.ini");
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->GetString("A", "k"), "1");
  ReleaseIniCache();
}
