// Text, fonts and ruby reaching the message windows through the script.
#include "InterpHarness.h"

#include "platform/TextCodec.h"
#include "script/tags/MessageTags.h"

namespace {

class MessageTags : public InterpHarness {
 protected:
  CMessageTagState* Messages() { return script_->FindFamily<CMessageTagState>(); }
  CLinkableTextRenderer* Window(const std::string& id = "") { return Messages()->FindWindow(*script_, id); }
  std::string WindowText(const std::string& id = "") {
    std::string out;
    for (const auto& line : Window(id)->GetLines()) {
      for (const auto& cell : line->cells) {
        out += cell->text;
        if (!cell->rubyText.empty()) out += "(" + cell->rubyText + ")";
      }
      out += "|";
    }
    return Cp932ToUtf8(out);
  }
  std::vector<std::string> Recorded(const std::string& id = "") {
    std::vector<std::string> out;
    for (const auto& record : script_->GetSaveData().GetMessageReplay()[id]) out.push_back(Cp932ToUtf8(record.m_text));
    return out;
  }
  std::string Reports() { return Cp932ToUtf8(script_->TakeReportBuffer()); }
};

TEST_F(MessageTags, BootMakesTheBacklogAndMainWindows) {
  WriteFile("game.iet", "[var name=f.x data=1]\n");
  ASSERT_FALSE(Start());
  EXPECT_NE(Window("backlog"), nullptr);
  EXPECT_NE(Window(""), nullptr);
  EXPECT_EQ(Messages()->m_currentWindowId, "");
}

TEST_F(MessageTags, TextPrintAndLineBreaksReachTheWindowAndAreRecorded) {
  WriteFile("game.iet", Utf8ToCp932("あいう\n[print data=$1+1]\n[rt]\nえ\n"));
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(WindowText(), "あいう2|え|");
  EXPECT_EQ(Recorded(), (std::vector<std::string>{"あいう", "2", "rt", "え"}));
}

TEST_F(MessageTags, RubyHoldsItsBaseUntilTheClosingTag) {
  WriteFile("game.iet", Utf8ToCp932("[debug mode=2]\n前[ruby text=かんじ]漢字[/ruby]後\n"
                                    "[ruby text=a][ruby text=b]x[/ruby][/ruby]\n"));
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(WindowText(), "前漢字(かんじ)後x(a)|");  // the nested ruby keeps the first text
  const std::string reports = Reports();
  EXPECT_NE(reports.find("game.iet(3): [ruby] rubyタグは二重にできません。"), std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(3): [/ruby] 対になるrubyタグが見つかりません。"), std::string::npos) << reports;
  // The nested ruby is recorded, the unpaired /ruby is not.
  const auto recorded = Recorded();
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "ruby"), 3);
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "/ruby"), 2);
}

TEST_F(MessageTags, FontsNestPerWindow) {
  WriteFile("game.iet",
            "[debug mode=2]\n"
            "[font size=30 color=ff0000 align=justify style=outline layermode=screen]\n"
            "[font size=12 align=right]\n"
            "[var name=f.a data=1]\n"
            "[/font]\n"
            "[var name=f.b data=1]\n"
            "[/font]\n"
            "[fontinit]\n"
            "[/font]\n");
  ASSERT_FALSE(Start());
  Frame();
  const CFontValues& font = Window()->GetFont();
  EXPECT_EQ(font.size, 30);
  EXPECT_EQ(font.color, 0xFF0000u);
  EXPECT_EQ(font.align, kAlignLeft);  // "justify" is no alignment
  EXPECT_EQ(font.style, kStyleOutline);
  EXPECT_EQ(font.layermode, 4);
  const std::string reports = Reports();
  // The first /font leaves one entry; the second and the one after fontinit
  // find no pair.
  size_t first = reports.find("game.iet(7): [/font] 対になるfontタグが見つかりません。");
  ASSERT_NE(first, std::string::npos) << reports;
  EXPECT_NE(reports.find("game.iet(9): [/font] 対になるfontタグが見つかりません。", first + 1), std::string::npos)
      << reports;
  const auto recorded = Recorded();
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "font"), 2);
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "/font"), 1);
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "fontinit"), 0);
}

// Every named value of the font tag, and a value it does not know, which
// leaves the field as it was.
TEST(FontAttributes, NamedValuesAndNumbers) {
  struct Case {
    const char* name;
    const char* value;
    int32_t CFontValues::*field;
    int32_t expected;
  };
  const Case cases[] = {
      {"layermode", "normal", &CFontValues::layermode, 0},
      {"layermode", "add", &CFontValues::layermode, 1},
      {"layermode", "screen", &CFontValues::layermode, 4},
      {"layermode", "multiply", &CFontValues::layermode, 2},
      {"layermode", "Add", &CFontValues::layermode, -7},
      {"align", "left", &CFontValues::align, 0},
      {"align", "center", &CFontValues::align, 1},
      {"align", "right", &CFontValues::align, 2},
      {"align", "equalize", &CFontValues::align, 3},
      {"align", "centre", &CFontValues::align, -7},
      {"style", "single", &CFontValues::style, 1},
      {"style", "shadow", &CFontValues::style, 2},
      {"style", "outline", &CFontValues::style, 4},
      {"style", "outline_shadow", &CFontValues::style, 6},
      {"style", "bold", &CFontValues::style, -7},
      {"size", "24px", &CFontValues::size, 24},
      {"entirexscale", "32768", &CFontValues::entirexscale, 32768},
      {"rubysize", "x", &CFontValues::rubysize, 0},
  };
  for (const Case& c : cases) {
    CFontValues font;
    font.*c.field = -7;
    ApplyFontAttributes(CScriptBlock(CScriptBlock::kTag, 1, "font", {{c.name, c.value}}), font);
    EXPECT_EQ(font.*c.field, c.expected) << c.name << "=" << c.value;
  }
  CFontValues font;
  ApplyFontAttributes(CScriptBlock(CScriptBlock::kTag, 1, "font", {{"color", "0x80ff00"}, {"anchorcenter", "0"}}),
                      font);
  EXPECT_EQ(font.color, 0x80FF00u);
  EXPECT_FALSE(font.anchorcenter);
  // Numbers past 32 bits saturate rather than wrap: a huge visible is on,
  // a huge size the largest, a huge colour white.
  ApplyFontAttributes(CScriptBlock(CScriptBlock::kTag, 1, "font",
                                   {{"visible", "4294967296"},
                                    {"size", "99999999999"},
                                    {"color", "100000000"},
                                    {"shadowcolor", "-1"},
                                    {"outlinecolor", " zz"}}),
                      font);
  EXPECT_TRUE(font.visible);
  EXPECT_EQ(font.size, INT32_MAX);
  EXPECT_EQ(font.color, 0xFFFFFFFFu);
  EXPECT_EQ(font.shadowcolor, 0xFFFFFFFFu);
  EXPECT_EQ(font.outlinecolor, 0u);
}

TEST_F(MessageTags, FontAreaChangeClearsTheWindowAndAlignmentClosesTheLine) {
  WriteFile("game.iet", Utf8ToCp932("あい\n[font align=center]\nう\n[font width=300]\nえ\n"));
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(WindowText(), "え|");
  EXPECT_EQ(Window()->GetFont().width, 300);
  EXPECT_EQ(Window()->GetFont().align, kAlignCenter);

  CFontValues font;
  ApplyFontAttributes(CScriptBlock(CScriptBlock::kTag, 1, "font",
                                   {{"xscale", "50"}, {"vertical", "1"}, {"hung", "0"}, {"shadowcolor", "FFFFFFFF"}}),
                      font);
  EXPECT_EQ(font.xscale, 50);  // kept as given: the font's scales are fixed point
  EXPECT_TRUE(font.vertical);
  EXPECT_FALSE(font.hung);
  EXPECT_EQ(font.shadowcolor, 0xFFFFFFFFu);
}

}  // namespace
