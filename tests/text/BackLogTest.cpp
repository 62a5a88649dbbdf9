// The backlog: which pages it keeps and with which fonts, how a page is
// replayed into its window, and its saved form, also when the saved bytes
// are hostile.
#include <gtest/gtest.h>

#include "FakeFontBackend.h"
#include "core/Serializer.h"
#include "graphics/Surface.h"
#include "platform/TextCodec.h"
#include "scene/Layer.h"
#include "text/BackLog.h"
#include "text/GlyphGenerator.h"

namespace {

CScriptBlock Text(const std::string& text) { return CScriptBlock(CScriptBlock::kText, 1, text); }
CScriptBlock Tag(const std::string& name, CScriptBlock::AttributeMap attributes = {}) {
  return CScriptBlock(CScriptBlock::kTag, 1, name, std::move(attributes));
}

CFontProperty FontOfSize(int32_t size) {
  CFontValues values;
  values.size = size;
  return CFontProperty(values);
}

class BackLogTest : public ::testing::Test {
 protected:
  ScopedFakeFonts fonts;
  CLayerFactory layers;
  CSurfaceFactory surfaces;
  CTextRenderer window{&layers, &surfaces};
  CBackLog backlog;

  void SetUp() override {
    CGlyphGenerator::DestroyInstance();
    fonts.backend.state.metrics = {20, 40};
  }
  void TearDown() override { CGlyphGenerator::DestroyInstance(); }

  // The window's text, lines separated by '|', ruby in brackets.
  std::string Shown() const {
    std::string out;
    for (const auto& line : window.GetLines()) {
      for (const auto& cell : line->cells) {
        out += cell->text;
        if (!cell->rubyText.empty()) out += "(" + cell->rubyText + ")";
      }
      out += '|';
    }
    return out;
  }
  // The height of every cell: it follows the font size the cell was made in.
  std::vector<int32_t> CellHeights() const {
    std::vector<int32_t> out;
    for (const auto& line : window.GetLines())
      for (const auto& cell : line->cells) out.push_back(cell->height);
    return out;
  }
  void Show(int32_t index) {
    window.Clear();
    (void)backlog.Open(&window);
    window.Clear();
    backlog.ShowPage(index);
  }
};

TEST_F(BackLogTest, KeepsOnlyPagesWithTextAndTheNewest101) {
  backlog.AddPage({Tag("font", {{"size", "10"}}), Tag("rt")}, {});
  EXPECT_EQ(backlog.GetPageCount(), 0u);
  for (int n = 0; n < 150; ++n) backlog.AddPage({Text("p" + std::to_string(n))}, {FontOfSize(n + 1)});
  ASSERT_EQ(backlog.GetPageCount(), 101u);
  ASSERT_EQ(backlog.GetPageFonts().size(), 101u);
  EXPECT_EQ(backlog.GetPages().front()[0].m_text, "p49");
  EXPECT_EQ(backlog.GetPages().back()[0].m_text, "p149");
  // Fonts stay paired with their pages when old ones are dropped.
  EXPECT_EQ(backlog.GetPageFonts().front().at(0).size, 50);
}

TEST_F(BackLogTest, SnapshotHoldsTheFontsThePageClosesPlusTheOneInEffect) {
  const std::vector<CFontProperty> stack = {FontOfSize(10), FontOfSize(20), FontOfSize(30), FontOfSize(40)};
  // Two fonts opened before the page are closed on it: the three most recent
  // entries, most recent first.
  backlog.AddPage({Tag("/font"), Text("a"), Tag("/font")}, stack);
  // A font the page opens and closes itself needs nothing more.
  backlog.AddPage({Tag("font"), Text("b"), Tag("/font")}, stack);
  // More closes than the stack holds take what there is.
  backlog.AddPage({Tag("/font"), Tag("/font"), Tag("/font"), Tag("/font"), Tag("/font"), Text("c")}, stack);
  backlog.AddPage({Text("d")}, {});
  auto sizes = [&](size_t page) {
    std::vector<int32_t> out;
    for (const CFontProperty& font : backlog.GetPageFonts()[page]) out.push_back(font.size);
    return out;
  };
  EXPECT_EQ(sizes(0), (std::vector<int32_t>{40, 30, 20}));
  EXPECT_EQ(sizes(1), (std::vector<int32_t>{40}));
  EXPECT_EQ(sizes(2), (std::vector<int32_t>{40, 30, 20, 10}));
  EXPECT_TRUE(sizes(3).empty());
}

TEST_F(BackLogTest, ShownPageStartsInTheNewestFontAndStepsBackAtEachClose) {
  backlog.AddPage({Text("a"), Tag("/font"), Text("b"), Tag("/font"), Text("c"), Tag("/font"), Text("d")},
                  {FontOfSize(10), FontOfSize(20), FontOfSize(30)});
  Show(0);
  EXPECT_EQ(Shown(), "abcd|");
  const int32_t h10 = FontOfSize(10).CellHeight(), h20 = FontOfSize(20).CellHeight(), h30 = FontOfSize(30).CellHeight();
  // The third "/font" finds one entry left and keeps it, as the tag does.
  EXPECT_EQ(CellHeights(), (std::vector<int32_t>{h30, h20, h10, h10}));
  EXPECT_EQ(window.GetFont().size, 10);
}

TEST_F(BackLogTest, ShownPageRebuildsFontsRubyAndLines) {
  backlog.AddPage({Tag("font", {{"size", "30"}}), Text("x"), Tag("rt"), Tag("ruby", {{"text", "r"}}), Text("y"),
                   Text("z"), Tag("/ruby"), Tag("/font"), Tag("/font"), Text("w"), Tag("link"), Tag("@")},
                  {});
  Show(0);
  EXPECT_EQ(Shown(), "x|yz(r)w|");
  // The page's own font stays pushed over nothing: its "/font" records
  // cannot pop the last entry.
  EXPECT_EQ(window.GetFont().size, 30);
}

// A page begun before any font tag is shown in the backlog window's own font
// (the author's styling of it), whatever the page shown before it set.
TEST_F(BackLogTest, APageWithoutFontsIsShownInTheWindowsOwnFont) {
  CFontValues styled;
  styled.size = 36;
  styled.left = 100;
  window.SetFont(styled);
  backlog.AddPage({Text("a")}, {});
  backlog.AddPage({Tag("font", {{"size", "40"}}), Text("b")}, {});
  ASSERT_FALSE(backlog.Open(&window));  // the newest page
  ASSERT_EQ(window.GetFont().size, 40);
  window.Clear();
  backlog.ShowPage(0);
  EXPECT_EQ(window.GetFont(), styled);
  EXPECT_EQ(CellHeights(), (std::vector<int32_t>{CFontProperty(styled).CellHeight()}));

  // Closed on the newest page and opened again: still the window's own font,
  // not the one browsing left behind.
  window.Clear();
  backlog.ShowPage(1);
  backlog.Close();
  ASSERT_EQ(window.GetFont().size, 40);
  ASSERT_FALSE(backlog.Open(&window));
  window.Clear();
  backlog.ShowPage(0);
  EXPECT_EQ(window.GetFont(), styled);
  backlog.Close();

  // The author restyling the window between openings is honoured.
  CFontValues restyled;
  restyled.size = 18;
  window.SetFont(restyled);
  ASSERT_FALSE(backlog.Open(&window));
  window.Clear();
  backlog.ShowPage(0);
  EXPECT_EQ(window.GetFont(), restyled);

  // After a restart the window is new: its font is read again, even when it
  // equals the one browsing left behind.
  window.Clear();
  backlog.ShowPage(1);
  backlog.Close();
  backlog.ForgetWindowFont();
  ASSERT_EQ(window.GetFont().size, 40);
  ASSERT_FALSE(backlog.Open(&window));
  window.Clear();
  backlog.ShowPage(0);
  EXPECT_EQ(window.GetFont().size, 40);
}

TEST_F(BackLogTest, RubyLeftOpenOnOnePageDoesNotSwallowTheNext) {
  backlog.AddPage({Text("a"), Tag("ruby", {{"text", "r"}}), Text("b")}, {});
  backlog.AddPage({Text("c"), Tag("/ruby"), Text("d")}, {});
  Show(0);
  EXPECT_EQ(Shown(), "a|");
  window.Clear();
  backlog.ShowPage(1);
  EXPECT_EQ(Shown(), "cd|");
}

TEST_F(BackLogTest, FontWithASizeClearsTheTextBeforeIt) {
  backlog.AddPage({Text("a"), Tag("font", {{"width", "300"}}), Text("b"), Tag("font", {{"size", "12"}}), Text("c")},
                  {});
  Show(0);
  EXPECT_EQ(Shown(), "bc|");
  EXPECT_EQ(window.GetFont().width, 300);
}

TEST_F(BackLogTest, OpenNeedsAPageAndAWindowAndCloseForgetsTheWindow) {
  EXPECT_TRUE(backlog.Open(&window));
  backlog.AddPage({Text("a")}, {});
  backlog.AddPage({Text("b")}, {});
  EXPECT_TRUE(backlog.Open(nullptr));
  EXPECT_FALSE(backlog.IsOpen());
  EXPECT_TRUE(backlog.Update());  // nothing shown: close
  ASSERT_FALSE(backlog.Open(&window));
  EXPECT_EQ(backlog.GetCurrentPage(), 1);
  EXPECT_EQ(Shown(), "b|");
  EXPECT_EQ(window.GetEffectMark(), 1);
  EXPECT_FALSE(backlog.Update());  // no input: stays
  backlog.Close();
  EXPECT_FALSE(backlog.IsOpen());
  EXPECT_EQ(backlog.GetCurrentPage(), 0);
  EXPECT_EQ(Shown(), "|");
  backlog.ShowPage(0);  // no window: nothing
  backlog.ShowPage(7);
  EXPECT_EQ(Shown(), "|");
  std::string dump;
  backlog.Dump(dump);
  EXPECT_EQ(dump, "backlog pages 2 current 0 closed\n");
}

TEST(BackLogLists, DefaultsAreTheFourPageTurnLists) {
  CBackLog backlog;
  const auto& olderIn = backlog.GetList(CBackLog::List::kOlderAppear);
  ASSERT_EQ(olderIn.size(), 2u);
  EXPECT_EQ(olderIn[0], (CTextTweenInfo{1, 20, -544, 400, 0, 0, false}));
  EXPECT_EQ(olderIn[1], (CTextTweenInfo{2, 0, -255, 400, 0, 0, false}));
  const auto& olderOut = backlog.GetList(CBackLog::List::kOlderVanish);
  EXPECT_EQ(olderOut[0], (CTextTweenInfo{2, 8, -255, 1000, 0, 0, true}));
  EXPECT_EQ(olderOut[1], (CTextTweenInfo{1, 19, 544, 400, 0, 0, true}));
  EXPECT_EQ(backlog.GetList(CBackLog::List::kNewerAppear)[0].diff, 544);
  EXPECT_EQ(backlog.GetList(CBackLog::List::kNewerVanish)[1].diff, -544);
}

// ---- Saved form ----

std::vector<uint8_t> Save(const CBackLog& backlog) {
  CSerializer stream;
  stream.Write(31, backlog);
  return stream.Finish();
}

bool Load(const std::vector<uint8_t>& bytes, CBackLog& backlog) {
  CSerializer stream;
  if (stream.Load(bytes.data(), bytes.size())) return true;
  return stream.Read(31, backlog);
}

TEST(BackLogSave, RoundTripKeepsPagesFontsAndLists) {
  CBackLog saved;
  saved.AddPage({Text("a"), Tag("font", {{"size", "30"}, {"color", "ff0000"}}), Text("b")}, {FontOfSize(14)});
  saved.AddPage({Tag("/font"), Text("c")}, {FontOfSize(14), FontOfSize(30)});
  CTextTweenInfo odd{11, 31, 32768, 250, 15, -1, true};
  saved.GetList(CBackLog::List::kNewerAppear) = {odd};
  saved.GetList(CBackLog::List::kOlderVanish).clear();

  CBackLog loaded;
  ASSERT_FALSE(Load(Save(saved), loaded));
  ASSERT_EQ(loaded.GetPageCount(), 2u);
  EXPECT_EQ(loaded.GetPages(), saved.GetPages());
  ASSERT_EQ(loaded.GetPageFonts().size(), 2u);
  ASSERT_EQ(loaded.GetPageFonts()[1].size(), 2u);
  EXPECT_EQ(loaded.GetPageFonts()[1][0].size, 30);
  EXPECT_EQ(loaded.GetPageFonts()[1][1].size, 14);
  EXPECT_EQ(loaded.GetList(CBackLog::List::kNewerAppear), (CBackLog::CTweenList{odd}));
  EXPECT_TRUE(loaded.GetList(CBackLog::List::kOlderVanish).empty());
  EXPECT_EQ(loaded.GetList(CBackLog::List::kOlderAppear), CBackLog::DefaultList(CBackLog::List::kOlderAppear));
}

TEST(BackLogSave, EffectEntryFieldsHaveTheirOwnTagsAndWidths) {
  CTextTweenInfoSerializer::EnsureRegistered();
  CSerializer stream;
  stream.Write(1, CBackLog::CTweenList{CTextTweenInfo{5, 7, -3, 400, 20, 2, true}});
  const std::vector<uint8_t> bytes = stream.Finish();
  CSerializer reader;
  ASSERT_FALSE(reader.Load(bytes.data(), bytes.size()));
  // The list is one count and one nested block; read the block's stream.
  struct Raw : ISerializable {
    bool vanish = false;
    int32_t repeat = 0, diff = 0, ease = 0, param = 0, delay = 0, msec = 0;
    void Serialize(CSerializer&) const override {}
    void Deserialize(CSerializer& s) override {
      EXPECT_FALSE(s.Read(1, vanish));
      EXPECT_FALSE(s.Read(2, repeat));
      EXPECT_FALSE(s.Read(3, diff));
      EXPECT_FALSE(s.Read(4, ease));
      EXPECT_FALSE(s.Read(5, param));
      EXPECT_FALSE(s.Read(6, delay));
      EXPECT_FALSE(s.Read(7, msec));
    }
  };
  std::vector<Raw> raw;
  ASSERT_FALSE(reader.Read(1, raw));
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_TRUE(raw[0].vanish);
  EXPECT_EQ(raw[0].repeat, 2);
  EXPECT_EQ(raw[0].diff, -3);
  EXPECT_EQ(raw[0].ease, 7);
  EXPECT_EQ(raw[0].param, 5);
  EXPECT_EQ(raw[0].delay, 20);
  EXPECT_EQ(raw[0].msec, 400);
}

TEST_F(BackLogTest, HostileStreamsLeaveAUsableBacklog) {
  // Fonts for three pages but pages for five, then the reverse.
  for (auto [fontPages, pages] : {std::pair{3, 5}, std::pair{5, 2}}) {
    CSerializer stream;
    std::vector<std::vector<CFontProperty>> fontsList(size_t(fontPages), {FontOfSize(20)});
    std::vector<std::vector<CScriptBlock>> pageList(size_t(pages), {Tag("/font"), Text("t")});
    stream.Write(1, fontsList);
    stream.Write(2, pageList);
    const std::vector<uint8_t> inner = stream.Finish();
    CSerializer reader;
    ASSERT_FALSE(reader.Load(inner.data(), inner.size()));
    CBackLog loaded;
    loaded.Deserialize(reader);
    ASSERT_EQ(loaded.GetPageCount(), size_t(pages));
    ASSERT_EQ(loaded.GetPageFonts().size(), size_t(pages));
    ASSERT_FALSE(loaded.Open(&window));
    for (int32_t n = 0; n < pages; ++n) loaded.ShowPage(n);
    loaded.Close();
  }
  // More pages than are ever held: the newest stay.
  {
    CSerializer stream;
    std::vector<std::vector<CScriptBlock>> pageList;
    for (int n = 0; n < 130; ++n) pageList.push_back({Text(std::to_string(n))});
    stream.Write(2, pageList);
    const std::vector<uint8_t> inner = stream.Finish();
    CSerializer reader;
    ASSERT_FALSE(reader.Load(inner.data(), inner.size()));
    CBackLog loaded;
    loaded.Deserialize(reader);
    ASSERT_EQ(loaded.GetPageCount(), CBackLog::kMaxPages);
    EXPECT_EQ(loaded.GetPages().front()[0].m_text, "29");
  }
  // Every cut of a real stream loads without harm; what was cut keeps the
  // defaults.
  CBackLog saved;
  saved.AddPage({Text("a"), Tag("font", {{"size", "30"}}), Text("b")}, {FontOfSize(14)});
  saved.AddPage({Tag("/font"), Text("c")}, {FontOfSize(14), FontOfSize(30)});
  const std::vector<uint8_t> bytes = Save(saved);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + ptrdiff_t(cut));
    CBackLog loaded;
    (void)Load(part, loaded);
    EXPECT_EQ(loaded.GetPageFonts().size(), loaded.GetPageCount());
    if (!loaded.Open(&window)) {
      for (int32_t n = 0; n < int32_t(loaded.GetPageCount()); ++n) loaded.ShowPage(n);
      loaded.Close();
    }
  }
}

}  // namespace
