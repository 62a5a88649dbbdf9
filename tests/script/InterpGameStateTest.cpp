// Game states: quick save and load, the save, load and reset tags, the
// stream's fields, the checks a file must pass before anything changes, and
// a committed save that every later build must still load.
#include <cstdlib>
#include <unistd.h>

#include "InterpHarness.h"

#include "debug/DebugAids.h"
#include "platform/VirtualKeys.h"
#include "script/SavedState.h"

namespace {

using namespace platform;

class InterpGameState : public InterpHarness {
 protected:
  void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }

  // A game that calls into a second script and waits twice there.
  void WriteCallingGame() {
    WriteFile("game.iet", "[var name=a data=1]\n[call file=sub.iet label=x]\n[var name=done data=1]\n@\n");
    WriteFile("sub.iet", "*x\n[var name=a data=2]\nline one\n@\n[var name=a data=3]\n@\n[return]\n");
  }

  // Boots the calling game, runs to its first wait and quick-saves there.
  void SaveAtFirstWait() {
    WriteCallingGame();
    ASSERT_FALSE(Start());
    Frame();
    ASSERT_EQ(State(), CMainScript::kClickWait);
    Frame({'S'});
    ASSERT_TRUE(Exists("saveq.dat"));
  }

  // The game after it moved on to the second wait.
  void AtSecondWait() {
    Frame({VK_LBUTTON});
    ASSERT_EQ(Var("a"), "3");
    ASSERT_EQ(State(), CMainScript::kClickWait);
  }

  // Field tags of a state file in the order their bytes stand.
  static std::vector<uint32_t> FieldOrder(const std::vector<uint8_t>& file) {
    auto u32 = [&](size_t at) {
      return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8 | uint32_t(file[at + 2]) << 16 |
             uint32_t(file[at + 3]) << 24;
    };
    std::vector<std::pair<uint32_t, uint32_t>> byPosition;
    const uint32_t count = u32(8);
    for (uint32_t i = 0; i < count; ++i) byPosition.push_back({u32(12 + 8 * i + 4), u32(12 + 8 * i)});
    std::sort(byPosition.begin(), byPosition.end());
    std::vector<uint32_t> tags;
    for (const auto& p : byPosition) tags.push_back(p.second);
    return tags;
  }
};

TEST_F(InterpGameState, QuickLoadComesBackToTheSavedWaitWithItsCaller) {
  SaveAtFirstWait();
  AtSecondWait();
  script_->GetVariables().SetInt("later", 7);
  Frame({'L'});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(script_->GetCursor().m_file, "sub.iet");
  EXPECT_EQ(Var("a"), "2");
  EXPECT_FALSE(Has("later"));
  ASSERT_EQ(script_->GetCallStack().size(), 1u);
  // The load went back to the wait it interrupted: the wait is its previous
  // state as well.
  EXPECT_EQ(script_->GetCursor().m_previousState, CMainScript::kClickWait);
  // Game variables come back as texts.
  EXPECT_TRUE(script_->GetVariables().Find("a")->IsString());
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("a"), "3");
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("done"), "1");
}

// The error mode comes back as the number [debug] set, whatever it is, but
// a file does not open the debugging channel: only the tag does that.
TEST_F(InterpGameState, TheErrorModeComesBackWithoutStartingTheDebuggingAids) {
  for (int mode : {2, 7}) {
    WriteFile("game.iet",
              "[debug mode=" + std::to_string(mode) + "]\n[var name=a data=1]\n@\n[var name=a data=2]\n@\n");
    ASSERT_FALSE(Start());
    Frame();
    ASSERT_EQ(State(), CMainScript::kClickWait);
    Frame({'S'});
    ASSERT_TRUE(Exists("saveq.dat"));
    script_.reset();
    // A new session that has not run [debug] loads it.
    WriteFile("game.iet", "[var name=a data=1]\n@\n[var name=a data=2]\n@\n");
    ASSERT_FALSE(Start());
    Frame();
    Frame({VK_LBUTTON});
    ASSERT_EQ(Var("a"), "2");
    Frame({'L'});
    EXPECT_EQ(Var("a"), "1") << mode;
    EXPECT_EQ(script_->GetErrorMode(), mode);
    EXPECT_EQ(script_->GetDebugAids().GetChannel(), nullptr);
    EXPECT_EQ(script_->GetDebugAids().GetServer(), nullptr);
    script_.reset();
    std::filesystem::remove(dir_ / "saveq.dat");
  }
}

// The pointer handler tables hold the tags' records as they were, their
// lines included, through a save and a load.
TEST_F(InterpGameState, PointerHandlersKeepTheirTagsLines) {
  WriteFile("game.iet", "[var name=a data=1]\n[setonclick id=b label=x]\n\n[setonrollout id=c label=y]\n@\n*x\n*y\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  auto lines = [&] {
    std::unique_ptr<ISaveSubject::IStateStage> stage = script_->CaptureState();
    const auto& saved = static_cast<const CSavedState&>(*stage);
    return std::make_pair(saved.clicks.at("b").m_line, saved.rollouts.at("c").m_line);
  };
  EXPECT_EQ(lines(), std::make_pair(2, 4));
  Frame({'S'});
  Frame({'L'});
  EXPECT_EQ(lines(), std::make_pair(2, 4));
}

// The click-wait glyphs and the auto and backlog icons of each window come
// back whole through a save and a load.
TEST_F(InterpGameState, GlyphsAndIconsComeBackPerWindow) {
  WriteFile("game.iet",
            "[glyph layer=g left=3 top=4 rplayer=p rpleft=-5 rptop=6 homing=1]\n"
            "[chgmsg id=side][glyph layer=s][/chgmsg]\n"
            "[automode allow=1 layer=ai][backlog allow=1 layer=bi]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  auto settings = [&] {
    std::unique_ptr<ISaveSubject::IStateStage> stage = script_->CaptureState();
    const auto& saved = static_cast<const CSavedState&>(*stage);
    std::vector<std::string> out;
    for (const auto& [id, g] : saved.glyphs)
      out.push_back(id + ":" + std::to_string(g.m_homing) + std::to_string(g.m_hasLineGlyph) +
                    std::to_string(g.m_hasPageGlyph) + " " + g.m_lineLayer + "@" + std::to_string(g.m_lineX) + "," +
                    std::to_string(g.m_lineY) + " " + g.m_pageLayer + "@" + std::to_string(g.m_pageX) + "," +
                    std::to_string(g.m_pageY));
    for (const auto& [id, icon] : saved.autoIcons)
      out.push_back("auto " + id + ":" + std::to_string(icon.m_on) + icon.m_layer);
    for (const auto& [id, icon] : saved.backlogIcons)
      out.push_back("backlog " + id + ":" + std::to_string(icon.m_on) + icon.m_layer);
    return out;
  };
  const std::vector<std::string> before = settings();
  ASSERT_EQ(before.size(), 4u);
  EXPECT_EQ(before[0], ":111 g@3,4 p@-5,6");
  Frame({'S'});
  // Another game's settings in between, so the load has something to undo.
  script_->Dispatch(CScriptBlock(CScriptBlock::kTag, 0, "glyph", {{"layer", "other"}}), false);
  Frame({'L'});
  EXPECT_EQ(settings(), before);
}

TEST_F(InterpGameState, TheStreamHoldsEveryFieldInItsOrder) {
  SaveAtFirstWait();
  std::vector<uint8_t> file = ReadFile("saveq.dat");
  ASSERT_GT(file.size(), 16u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "BOWS");
  EXPECT_EQ(file[4], 0xE8);
  EXPECT_EQ(file[5], 0x03);
  const std::vector<uint32_t> expected = {36, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 35, 11, 12, 13, 14, 15, 16,
                                          17, 37, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 30, 31, 34, 39};
  EXPECT_EQ(FieldOrder(file), expected);
}

TEST_F(InterpGameState, DamagedFilesLoadNothingAndChangeNothing) {
  SaveAtFirstWait();
  const std::vector<uint8_t> good = ReadFile("saveq.dat");
  AtSecondWait();
  const CMainScript::CCaret before = script_->GetCursor();
  auto untouched = [&](const std::string& what) {
    EXPECT_EQ(Var("a"), "3") << what;
    EXPECT_EQ(script_->GetCursor().m_index, before.m_index) << what;
    EXPECT_EQ(script_->GetCursor().m_file, before.m_file) << what;
    EXPECT_EQ(State(), CMainScript::kClickWait) << what;
  };

  // Every truncation of a real save.
  for (size_t n = 0; n < good.size(); ++n) {
    WriteBytes("saveq.dat", std::vector<uint8_t>(good.begin(), good.begin() + long(n)));
    Frame({'L'});
    untouched("cut at " + std::to_string(n));
    if (HasFailure()) return;
  }
  std::vector<uint8_t> v = good;
  v[3] = 'G';
  WriteBytes("saveq.dat", v);
  Frame({'L'});
  untouched("kind G");
  v = good;
  v[4] = 0x4C;  // 1100
  v[5] = 0x04;
  WriteBytes("saveq.dat", v);
  Frame({'L'});
  untouched("version 1100");

  std::filesystem::remove(dir_ / "saveq.dat");
  std::filesystem::create_directory(dir_ / "saveq.dat");
  Frame({'L'});
  untouched("a folder");
  std::filesystem::remove(dir_ / "saveq.dat");
  std::filesystem::create_symlink("/dev/zero", dir_ / "saveq.dat");
  Frame({'L'});
  untouched("a device");
  std::filesystem::remove(dir_ / "saveq.dat");

  // An absurd count where the message replay map's count stands.
  v = good;
  const uint32_t count = uint32_t(v[8]) | uint32_t(v[9]) << 8;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 12 + 8 * i;
    if (v[at] != 24) continue;
    const size_t position = 8 + (v[at + 4] | v[at + 5] << 8);
    v[position] = v[position + 1] = v[position + 2] = v[position + 3] = 0xFF;
  }
  WriteBytes("saveq.dat", v);
  Frame({'L'});
  untouched("absurd count");
}

TEST_F(InterpGameState, BitFlipsNeverCrashTheLoader) {
  SaveAtFirstWait();
  const std::vector<uint8_t> good = ReadFile("saveq.dat");
  for (size_t i = 8; i < good.size(); ++i) {
    std::vector<uint8_t> v = good;
    v[i] ^= uint8_t(1u << (i % 8));
    WriteBytes("saveq.dat", v);
    Frame({'L'});
    // Loaded or not, the interpreter is in a state it can run from.
    EXPECT_LE(State(), CMainScript::kEnded) << i;
    EXPECT_NE(State(), CMainScript::kHalted) << i;
  }
}

TEST_F(InterpGameState, OnlySelfRecordingTagsAreReplayed) {
  WriteCallingGame();
  ASSERT_FALSE(Start());
  Frame();
  script_->GetSaveData().GetLayerReplay()["x"].push_back(
      CScriptBlock(CScriptBlock::kTag, 0, "save", {{"file", "evil.dat"}}));
  Frame({'S'});
  AtSecondWait();
  Frame({'L'});
  EXPECT_EQ(Var("a"), "3");
  EXPECT_FALSE(Exists("evil.dat"));

  script_->GetSaveData().GetLayerReplay().clear();
  script_->GetSaveData().GetMessageReplay()[""].push_back(
      CScriptBlock(CScriptBlock::kTag, 0, "load", {{"file", "saveq.dat"}}));
  Frame({'S'});
  Frame({'L'});  // would load itself again and again
  EXPECT_EQ(Var("a"), "3");
}

TEST_F(InterpGameState, ASaveWhoseScriptChangedIsRefused) {
  SaveAtFirstWait();
  script_.reset();
  // The wait the save points at is gone: the caret lies past the records.
  WriteFile("sub.iet", "*x\n");
  WriteFile("game.iet", "[var name=fresh data=1]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_TRUE(script_->GetSaveData().LoadFile("saveq.dat", CSaveData::kKindState));
  EXPECT_EQ(Var("fresh"), "1");
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  EXPECT_EQ(State(), CMainScript::kClickWait);
}

TEST_F(InterpGameState, CallersNameTheKindTheyRead) {
  // A game state under the global data's name is ignored at boot instead of
  // loading a game (which would boot and read it again, without end).
  SaveAtFirstWait();
  std::vector<uint8_t> state = ReadFile("saveq.dat");
  script_.reset();
  WriteBytes("saveg.dat", state);
  WriteBytes("system.dat", state);
  ASSERT_FALSE(Start());
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  EXPECT_EQ(script_->GetCursor().m_index, 0);
  // A global file is not a game state either.
  Frame();
  EXPECT_TRUE(script_->GetSaveData().LoadFile("saveg.dat", CSaveData::kKindState));
}

TEST_F(InterpGameState, ReservedAndUnsafeNamesAreRefused) {
  WriteFile("game.iet",
            "[save file=system.dat]\n[save file=SAVEG.DAT]\n[save file=../up.dat]\n[save file=a/../../b.dat]\n"
            "[save file=/tmp/velmira_abs.dat]\n[save file=\"saveg.dat. \"]\n[save file=.\\\\system.dat.]\n"
            "[save file=ok.dat]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  const std::vector<uint8_t> system = ReadFile("system.dat");
  ASSERT_GT(system.size(), 4u);
  EXPECT_EQ(system[3], 'X');
  // Names that open the global data as Windows reads them.
  const std::vector<uint8_t> global = ReadFile("saveg.dat");
  ASSERT_GT(global.size(), 4u);
  EXPECT_EQ(global[3], 'G');
  EXPECT_FALSE(Exists("SAVEG.DAT"));
  EXPECT_FALSE(std::filesystem::exists(dir_.parent_path() / "up.dat"));
  EXPECT_FALSE(std::filesystem::exists("/tmp/velmira_abs.dat"));
  const std::vector<uint8_t> ok = ReadFile("ok.dat");
  ASSERT_GT(ok.size(), 4u);
  EXPECT_EQ(ok[3], 'S');
}

TEST_F(InterpGameState, ARefusedSaveNameStillWritesTheGlobalData) {
  // A timed wait, which writes nothing of its own (a click wait would).
  WriteFile("game.iet", "[var name=g.seen data=1]\n[save file=../up.dat]\n[wait time=100000]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_FALSE(std::filesystem::exists(dir_.parent_path() / "up.dat"));
  const std::vector<uint8_t> global = ReadFile("saveg.dat");
  ASSERT_GT(global.size(), 4u);
  EXPECT_EQ(global[3], 'G');
  const std::string bytes(global.begin(), global.end());
  EXPECT_NE(bytes.find("seen"), std::string::npos);
}

TEST_F(InterpGameState, LoadKeepsGlobalAndSystemVariablesAsTheyAreNow) {
  SaveAtFirstWait();
  AtSecondWait();
  // Set just before loading, not flushed yet: a volume from a menu.
  script_->GetVariables().SetInt("s.bgmvol", 250);
  script_->GetVariables().SetString("g.ending", "seen");
  Frame({'L'});
  EXPECT_EQ(Var("a"), "2");
  EXPECT_EQ(Var("s.bgmvol"), "250");
  EXPECT_EQ(Var("g.ending"), "seen");
  // And they stay on disk: a restart reads them back.
  script_.reset();
  ASSERT_FALSE(Start());
  EXPECT_EQ(Var("s.bgmvol"), "250");
  EXPECT_EQ(Var("g.ending"), "seen");
}

TEST_F(InterpGameState, ARestoredTimedWaitLastsWhatWasLeft) {
  WriteFile("game.iet", "[autosave allow=1]\n[wait time=5000]\n[var name=after data=1]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kTimedWait);
  Frame({}, 1000);
  script_->OnClose();  // closing in a timed wait writes autosave.dat
  script_.reset();

  // A later session: the timer is hours on.
  now_ += 3600 * 1000;
  platform::SetVirtualTicks(static_cast<uint64_t>(now_) << 10);
  WriteFile("game.iet", "[autosave allow=1]\n[wait time=5000]\n[var name=after data=1]\n@\n");
  ASSERT_FALSE(Start());
  ASSERT_FALSE(script_->GetSaveData().LoadFile("autosave.dat", CSaveData::kKindState));
  EXPECT_EQ(State(), CMainScript::kTimedWait);
  const int32_t left = int32_t(script_->GetWaitDeadline() - now_);
  EXPECT_GT(left, 3900);
  EXPECT_LE(left, 4000);
  Frame({}, 3000);
  EXPECT_FALSE(Has("after"));
  Frame({}, 1100);
  EXPECT_EQ(Var("after"), "1");
}

// Autosave mode 2 writes the game at every click wait it stops at, but not
// at the waits a skip runs through.
TEST_F(InterpGameState, AutosaveEveryWaitWritesTheGameAtEachStop) {
  WriteFile("game.iet",
            "[autosave allow=2]\n[var name=a data=1]\n@\n[var name=a data=2]\n@\n[var name=a data=3]\n@\n"
            "[var name=a data=4]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  ASSERT_EQ(State(), CMainScript::kClickWait);
  ASSERT_TRUE(Exists("autosave.dat"));
  Frame({VK_LBUTTON});
  ASSERT_EQ(Var("a"), "2");
  const std::vector<uint8_t> atSecond = ReadFile("autosave.dat");

  // Skipping runs through the third wait to the end: nothing written.
  script_->GetVariables().SetInt("f.skipped", 1);
  Hold(VK_CONTROL);
  Frame();
  Frame();
  Release(VK_CONTROL);
  ASSERT_EQ(Var("a"), "4");
  EXPECT_EQ(ReadFile("autosave.dat"), atSecond);

  ASSERT_FALSE(script_->GetSaveData().LoadFile("autosave.dat", CSaveData::kKindState));
  EXPECT_EQ(Var("a"), "2");
  EXPECT_FALSE(Has("f.skipped"));
  EXPECT_EQ(State(), CMainScript::kClickWait);
}

TEST_F(InterpGameState, ARestartForgetsMusicAndAnimations) {
  WriteFile("game.iet", "@\n");
  ASSERT_FALSE(Start());
  CSaveData& save = script_->GetSaveData();
  save.SetMusicRecord(CScriptBlock(CScriptBlock::kTag, 0, "splay", {{"file", "bgm.ogg"}}));
  save.GetAnimationReplay()["anim"].push_back(CScriptBlock(CScriptBlock::kTag, 0, "anime", {{"mode", "init"}}));
  ASSERT_FALSE(script_->Boot());
  EXPECT_FALSE(save.IsMusicPlaying());
  EXPECT_TRUE(save.GetAnimationReplay().empty());
}

TEST_F(InterpGameState, ResetFlushesAndStartsOver) {
  WriteFile("game.iet", "[var name=runs data=$runs+1]\n@\n[var name=s.fromtitle data=1]\n[reset]\n");
  ASSERT_FALSE(Start());
  Frame();
  EXPECT_EQ(Var("runs"), "1");
  Frame({VK_LBUTTON});
  Frame();
  EXPECT_EQ(Var("runs"), "2");
  EXPECT_EQ(script_->GetCursor().m_file, "game.iet");
  // The system variable was written before the restart read system.dat.
  EXPECT_EQ(Var("s.fromtitle"), "1");
}

TEST_F(InterpGameState, AStreamLackingFieldsLoadsWithDefaults) {
  WriteCallingGame();
  ASSERT_FALSE(Start());
  Frame();
  // Only a cursor: everything else keeps its initial value.
  CSerializer stream;
  CMainScript::CCaret caret;
  caret.m_file = "game.iet";
  caret.m_index = 4;
  caret.m_state = CMainScript::kClickWait;
  stream.Write(3, caret);
  WriteBytes("saveq.dat", CSaveData::BuildFile('S', stream.Finish()));
  Frame({'L'});
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(script_->GetCursor().m_index, 4);
  EXPECT_TRUE(script_->GetCallStack().empty());
  EXPECT_EQ(script_->GetMacroFiles(), std::vector<std::string>{"macro.iet"});
  EXPECT_FALSE(Has("a"));
}

// A save written by an earlier build (its game beside it). Every later build
// must load it; regenerate only when the stream format may change, which the
// compatibility rule forbids.
TEST_F(InterpGameState, TheCommittedFixtureSaveStillLoads) {
  const std::filesystem::path fixtures = std::filesystem::path(VELMIRA_TEST_DATA_DIR) / "script/fixtures/gamestate";
  for (const char* name : {"game.iet", "sub.iet"})
    std::filesystem::copy_file(fixtures / name, dir_ / name, std::filesystem::copy_options::overwrite_existing);
  if (std::getenv("VELMIRA_WRITE_FIXTURES")) {
    ASSERT_FALSE(Start());
    Frame();
    Frame({'S'});
    std::filesystem::copy_file(dir_ / "saveq.dat", fixtures / "slot.dat",
                               std::filesystem::copy_options::overwrite_existing);
    script_.reset();
  }
  std::filesystem::copy_file(fixtures / "slot.dat", dir_ / "slot.dat");
  ASSERT_FALSE(Start());
  ASSERT_FALSE(script_->GetSaveData().LoadFile("slot.dat", CSaveData::kKindState));
  EXPECT_EQ(State(), CMainScript::kClickWait);
  EXPECT_EQ(script_->GetCursor().m_file, "sub.iet");
  EXPECT_EQ(Var("name"), "fixture");
  EXPECT_EQ(Var("count"), "3");
  EXPECT_EQ(script_->GetCallStack().size(), 1u);
  Frame({VK_LBUTTON});
  EXPECT_EQ(Var("count"), "4");
}

}  // namespace

// Loading restarts the game, which reads the global data back from disk: the
// records read since it was last written stay read, and a save made where
// skipping was forbidden ends skipping.
TEST_F(InterpGameState, ALoadKeepsTheReadMarksAndItsSkipPermission) {
  WriteFile("game.iet",
            "[skip allow=0]\n[save file=s1.dat]\n[skip allow=1]\n[var name=f.n data=1]\n@\n[var name=f.n data=2]\n@\n"
            "[var name=f.n data=3]\n@\n");
  ASSERT_FALSE(Start());
  Frame();
  Frame({VK_LBUTTON});
  Frame({VK_LBUTTON});
  ASSERT_EQ(Var("f.n"), "3");
  script_->SetSkip(true);
  ASSERT_FALSE(script_->GetSaveData().LoadFile("s1.dat", CSaveData::kKindState));
  // Skipping was forbidden where the game was saved.
  EXPECT_FALSE(script_->IsSkipping());
  EXPECT_EQ(Var("s.status.commandskip"), "0");
  Frame();
  ASSERT_EQ(Var("f.n"), "1");
  // Everything after the save was read before the load: skipping runs
  // through it to the end.
  script_->SetSkip(true);
  for (int i = 0; i < 4; ++i) Frame();
  EXPECT_EQ(Var("f.n"), "3");
  EXPECT_EQ(State(), CMainScript::kEnded);
}
