// The bundled demo game runs through the interpreter from start to end.
#include "InterpHarness.h"

#include "platform/VirtualKeys.h"

namespace {

using namespace platform;

class InterpDemo : public InterpHarness {
 protected:
  // Runs frames until the interpreter waits for a click (or gives up).
  void RunToClickWait() {
    for (int i = 0; i < 2000 && State() != CMainScript::kClickWait && State() != CMainScript::kEnded; ++i) Frame();
  }
};

TEST_F(InterpDemo, DemoPlaysThroughItsMenuToTheEnd) {
  std::filesystem::path demo = std::filesystem::path(VELMIRA_TEST_DATA_DIR) / ".." / "games" / "demo";
  for (const char* name : {"boot.iet", "macro.iet", "rclick.iet", "movie.iet", "volume.iet", "saves.iet", "system.ini"})
    std::filesystem::copy_file(demo / name, dir_ / name);
  ASSERT_FALSE(Start());
  RunToClickWait();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  EXPECT_NE(Caption().find("click to go on"), std::string::npos) << Caption();
  EXPECT_EQ(Var("g.visits"), "1");
  EXPECT_EQ(Var("f.count"), "3");
  int side = script_->GetVariables().GetInt("f.side");
  EXPECT_GE(side, 1);
  EXPECT_LE(side, 6);
  EXPECT_EQ(script_->GetVariables().ScopeCount(), 0u);

  // The menu opens on the music volume and waits there (a click would only
  // drag the slider); a second right-click leaves it through its leave label.
  Frame({VK_RBUTTON});
  EXPECT_TRUE(script_->IsInRightClickMenu());
  EXPECT_EQ(Var("t.menus"), "1");
  EXPECT_NE(Caption().find("music volume 1000 of 1000"), std::string::npos) << Caption();
  EXPECT_NE(Caption().find("sparks: save"), std::string::npos) << Caption();
  Frame({VK_LBUTTON});
  EXPECT_TRUE(script_->IsInRightClickMenu());
  Frame({VK_RBUTTON});
  EXPECT_NE(Caption().find("leaving the menu"), std::string::npos);
  RunToClickWait();
  EXPECT_FALSE(script_->IsInRightClickMenu());
  EXPECT_EQ(script_->GetCursor().m_file, "boot.iet");

  Frame({VK_LBUTTON});
  EXPECT_NE(Caption().find("the end"), std::string::npos);
  Frame({VK_LBUTTON});
  EXPECT_EQ(State(), CMainScript::kEnded);
  script_->OnClose();

  // A second run counts the visit kept in the global data.
  // (The opening movie's wait takes a frame even without a picture.)
  ASSERT_FALSE(Start());
  for (int i = 0; i < 3; ++i) Frame();
  EXPECT_EQ(Var("g.visits"), "2");
  EXPECT_NE(Caption().find("welcome back, visit 2"), std::string::npos) << Caption();
}

}  // namespace
