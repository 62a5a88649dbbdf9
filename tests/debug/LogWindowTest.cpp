#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "debug/LogWindow.h"
#include "platform/Platform.h"
#include "support/TempDir.h"

namespace {

class LogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Init(platform::Backend::Headless);
    DestroyLogWindow();
  }
  void TearDown() override {
    DestroyLogWindow();
    platform::Shutdown();
  }
  static std::vector<std::string> Lines() {
    const auto& lines = FindLogWindow()->View().Lines();
    return {lines.begin(), lines.end()};
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST_F(LogWindowTest, FirstLineMakesTheWindowAndLinesKeepTheirOrderAndText) {
  EXPECT_EQ(FindLogWindow(), nullptr);
  LogPrint("%s(%d): [%s] %s", "first.iet", 12, "jump", "100% sure, %d %s %n");
  ASSERT_NE(FindLogWindow(), nullptr);
  EXPECT_FALSE(FindLogWindow()->View().HasPixels());  // headless: lines only
  LogPrintText("50%s of %d");
  GetLogWindow()->Print("%d%%", 7);
  // Text in CP932 shows as UTF-8; a report holding line breaks shows as lines.
  LogPrintText("\x82\xa0\r\nnext");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"first.iet(12): [jump] 100% sure, %d %s %n", "50%s of %d", "7%",
                                               "\xe3\x81\x82", "next"}));
}

TEST_F(LogWindowTest, LongLinesStayWholeAndOnlyTheNewestLinesAreKept) {
  std::string trace(5000, 'x');
  trace += "%s end";
  LogPrint("%s", trace.c_str());
  EXPECT_EQ(Lines().back(), trace);

  for (int i = 0; i < 10050; ++i) LogPrint("line %d", i);
  const auto& lines = FindLogWindow()->View().Lines();
  EXPECT_EQ(lines.size(), CLogWindow::kMaxLines);
  EXPECT_EQ(lines.front(), "line 50");
  EXPECT_EQ(lines.back(), "line 10049");
}

TEST_F(LogWindowTest, ResizingSnapsToWholeLines) {
  EXPECT_EQ(CLogWindow::SnapClientHeight(250), 240);
  EXPECT_EQ(CLogWindow::SnapClientHeight(480), 480);
  EXPECT_EQ(CLogWindow::SnapClientHeight(251), 240);
  EXPECT_EQ(CLogWindow::SnapClientHeight(5), 12);  // never less than one line
  EXPECT_EQ(GetLogWindow()->View().ClientHeight(), 480);
  EXPECT_EQ(GetLogWindow()->View().ClientWidth(), 320);
}

TEST_F(LogWindowTest, LinesGoToAFileAsUtf8AndNoWindowGivesAnEmptyFile) {
  TempDir dir;
  ASSERT_FALSE(WriteLogWindowLines(dir / "none.txt"));
  EXPECT_EQ(ReadFile(dir / "none.txt"), "");
  EXPECT_EQ(FindLogWindow(), nullptr);  // writing does not make a window

  LogPrintText("a\x82\xa2");
  LogPrintText("");
  LogPrintText("b");
  GetLogWindow()->SetTitle("%s", "t");
  ASSERT_FALSE(WriteLogWindowLines(dir / "lines.txt"));
  EXPECT_EQ(ReadFile(dir / "lines.txt"), "a\xe3\x81\x84\n\nb\n");
  EXPECT_TRUE(WriteLogWindowLines(dir / "missing/dir/lines.txt"));
}

}  // namespace
