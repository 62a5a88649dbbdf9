// "saveg.dat" and "system.dat": when they are written, their bytes, reading
// them back at boot, and what bad files do.
#include "InterpHarness.h"

#include "platform/VirtualKeys.h"

namespace {

using namespace platform;

class InterpSave : public InterpHarness {
 protected:
  static std::vector<uint8_t> Header(char kind) { return {'B', 'O', 'W', uint8_t(kind), 0xE8, 0x03, 0x00, 0x00}; }

  static bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
  }

  std::vector<std::string> DirectoryNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
};

TEST_F(InterpSave, ClickWaitWritesChangedGlobalAndSystemData) {
  WriteFile("game.iet",
            "[var name=g.seen data=1]\n"
            "[var name=s.volume data=7]\n"
            "[var name=f.game data=1]\n"
            "[var name=t.temp data=1]\n"
            "@\n"
            "[var name=g.seen data=2]\n"
            "[wait time=10]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  std::vector<uint8_t> global = ReadFile("saveg.dat");
  std::vector<uint8_t> system = ReadFile("system.dat");
  EXPECT_TRUE(StartsWith(global, Header('G')));
  EXPECT_TRUE(StartsWith(system, Header('X')));
  std::string globalText(global.begin(), global.end());
  std::string systemText(system.begin(), system.end());
  EXPECT_NE(globalText.find("g.seen"), std::string::npos);
  EXPECT_EQ(globalText.find("s.volume"), std::string::npos);
  EXPECT_NE(systemText.find("s.volume"), std::string::npos);
  EXPECT_NE(systemText.find("s.automodewait"), std::string::npos);
  for (const std::string& text : {globalText, systemText}) {
    EXPECT_EQ(text.find("f.game"), std::string::npos);
    EXPECT_EQ(text.find("t.temp"), std::string::npos);
  }

  // A timed wait is no flush point.
  Frame({VK_RETURN});
  ASSERT_EQ(State(), CMainScript::kTimedWait);
  EXPECT_EQ(ReadFile("saveg.dat"), global);
  // No temporary file is left next to the saves.
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"game.iet", "saveg.dat", "system.dat"}));
}

TEST_F(InterpSave, WaitsEnteredWhileSkippingDoNotFlush) {
  WriteFile("game.iet", "[var name=g.a data=1]\n@\n[var name=g.b data=1]\n[stop]\n");
  ASSERT_FALSE(Start());
  Hold(VK_CONTROL);
  Frame();
  EXPECT_FALSE(Exists("saveg.dat"));
  Release(VK_CONTROL);
  Frame();  // Ctrl let go: the click wait holds
  ASSERT_EQ(State(), CMainScript::kClickWait);
  Frame({VK_RETURN});
  ASSERT_EQ(State(), CMainScript::kSyncWait);
  std::vector<uint8_t> global = ReadFile("saveg.dat");
  EXPECT_NE(std::string(global.begin(), global.end()).find("g.b"), std::string::npos);
}

TEST_F(InterpSave, GlobalAndSystemDataSurviveARestart) {
  WriteFile("game.iet",
            "[if estimate=g.runs==0]\n"
            "[var name=g.runs data=1]\n"
            "[var name=s.choice data=b]\n"
            "[var name=f.game data=1]\n"
            "[/if]\n"
            "@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  script_->OnClose();
  script_.reset();

  ASSERT_FALSE(Start());
  EXPECT_EQ(Var("g.runs"), "1");
  EXPECT_EQ(Var("s.choice"), "b");
  EXPECT_FALSE(Has("f.game"));
  // Read marks come back too: the first run executed records 0 to 5.
  const auto& marks = script_->GetReadMarks();
  ASSERT_EQ(marks.count("game.iet"), 1u);
  EXPECT_EQ(marks.at("game.iet"), (std::set<int32_t>{0, 1, 2, 3, 4, 5}));
  // The stored values replace the engine's defaults.
  EXPECT_EQ(Var("s.automodewait"), "1000");
}

TEST_F(InterpSave, AGameThatEndsKeepsWhatItSetLast) {
  // No click wait after the assignments: the end of the game writes them.
  WriteFile("game.iet", "[var name=g.cleared data=1][var name=s.seen data=2][return]\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kEnded);
  script_.reset();
  ASSERT_FALSE(Start());
  EXPECT_EQ(Var("g.cleared"), "1");
  EXPECT_EQ(Var("s.seen"), "2");
}

TEST_F(InterpSave, OnCloseAlwaysWritesGlobalData) {
  WriteFile("game.iet", "[wait time=1000]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_FALSE(Exists("saveg.dat"));
  script_->OnClose();
  EXPECT_TRUE(StartsWith(ReadFile("saveg.dat"), Header('G')));
  // The start-up system variables count as changes.
  EXPECT_TRUE(StartsWith(ReadFile("system.dat"), Header('X')));
}

TEST_F(InterpSave, LeavingTheRightClickMenuFlushes) {
  WriteFile("game.iet", "[rclick allow=1]\n@\n");
  WriteFile("rclick.iet", "[var name=g.fromMenu data=1]\n[return]\n");
  ASSERT_FALSE(Start());
  Frame();
  std::filesystem::remove(dir_ / "saveg.dat");
  Frame({VK_RBUTTON});
  EXPECT_FALSE(script_->IsInRightClickMenu());
  std::vector<uint8_t> global = ReadFile("saveg.dat");
  EXPECT_NE(std::string(global.begin(), global.end()).find("g.fromMenu"), std::string::npos);
}

TEST_F(InterpSave, BadOrForeignFilesAreIgnored) {
  // Build a good global file to take apart.
  WriteFile("game.iet", "[var name=g.value data=good]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  std::vector<uint8_t> good = ReadFile("saveg.dat");
  ASSERT_TRUE(StartsWith(good, Header('G')));
  script_.reset();

  std::vector<std::vector<uint8_t>> bad;
  bad.push_back({});                                // empty
  bad.push_back({'B', 'O', 'W', 'G', 0xE8, 0x03});  // shorter than a header
  std::vector<uint8_t> v = good;
  v[0] = 'X';
  bad.push_back(v);  // wrong magic
  v = good;
  v[4] = 0x4C;
  v[5] = 0x04;
  bad.push_back(v);  // version 1100
  v = good;
  v[3] = 'Q';
  bad.push_back(v);  // unknown kind
  v = good;
  v.resize(good.size() - 3);
  bad.push_back(v);  // cut stream: the field is not delivered
  v = Header('G');
  for (int i = 0; i < 64; ++i) v.push_back(0xFF);
  bad.push_back(v);  // garbage stream with huge counts

  for (size_t i = 0; i < bad.size(); ++i) {
    WriteBytes("saveg.dat", bad[i]);
    ASSERT_FALSE(Start()) << i;
    EXPECT_NE(Var("g.value"), "good") << "case " << i;
    script_.reset();
  }

  // A version inside the accepted range is read.
  v = good;
  v[4] = 0x4B;  // 1099
  v[5] = 0x04;
  WriteBytes("saveg.dat", v);
  ASSERT_FALSE(Start());
  EXPECT_EQ(Var("g.value"), "good");
}

TEST_F(InterpSave, AFailedWriteLeavesNothingBehind) {
  WriteFile("game.iet", "[var name=g.value data=new]\n@\n");
  std::filesystem::create_directory(dir_ / "system.dat");  // no file can replace it
  ASSERT_FALSE(Start());
  Frame();  // flush point: the global data is written, the system data fails
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "system.dat"));
  EXPECT_TRUE(StartsWith(ReadFile("saveg.dat"), Header('G')));
  EXPECT_EQ(DirectoryNames(), (std::vector<std::string>{"game.iet", "saveg.dat", "system.dat"}));
}

}  // namespace
