#include "engine/EngineMain.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "files/Config.h"
#include "files/GameFiles.h"
#include "graphics/gl/GlesInstall.h"
#include "graphics/gl/GlesRenderer.h"
#include "platform/TextCodec.h"
#include "debug/LogWindow.h"
#include "engine/FrameStatsFile.h"
#include "engine/InputDriver.h"
#include "engine/InputRecorder.h"
#include "script/tags/MessageTags.h"
#include "script/tags/SoundTags.h"
#include "platform/InputState.h"
#include "platform/Log.h"
#include "platform/TimerResolution.h"
#include "engine/Velmira.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "scene/GraphicSystem.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "scene/GraphicSystem.h"
#include "text/GlyphGenerator.h"
#include "text/TextRenderer.h"
#include "platform/FontBackend.h"

namespace {

const std::string& StartupCaption() {
  static const std::string text = Utf8ToCp932("起動エラー");
  return text;
}

void StartupError(const std::string& utf8Text) {
  std::string text = Utf8ToCp932(utf8Text);
  LogProblem(StartupCaption() + ": " + text);
  platform::ShowErrorBox(StartupCaption(), text);
}

std::string Argument(const ArgumentMap& args, const char* name) {
  auto it = args.find(name);
  return it == args.end() ? std::string() : it->second;
}

// A path given on the command line, relative to the folder we started in.
std::string FromStartFolder(const std::string& startDir, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return startDir + "/" + path;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

int RunEngine(int argc, char** argv) {
  // Command line: options begin with '-' (a '/' starts an absolute path here).
  std::string commandLine = JoinCommandLine(argc - 1, argv + 1);
  ArgumentMap args;
  ParseCommandLine(commandLine.c_str(), args, false, {"fsr", "headless", "strict"});
  CDynamicVariables::Instance()->Set("ApplicationArguments", args);

  bool headless = args.count("headless") != 0;
  const bool strict = headless && args.count("strict") != 0;
  // Problems of this run only (tests run the engine more than once).
  const size_t problemsBefore = LogProblemCount();
  std::string startDir = platform::GetCurrentDirectory();
  // A recording is of a play in the window; a headless run has nobody to play.
  const bool recording = args.count("record") != 0;
  if (recording && (headless || Argument(args, "record").empty())) {
    std::fprintf(stderr, headless ? "velmira: -record records a play in the window and cannot be used with -headless\n"
                                  : "velmira: -record needs the name of the file to write\n");
    return 2;
  }
  std::string logPath = Argument(args, "log");
  if (!logPath.empty() && LogOpen(FromStartFolder(startDir, logPath))) {
    std::fprintf(stderr, "velmira: cannot write the log file %s\n", logPath.c_str());
  }
  if (platform::Init(headless ? platform::Backend::Headless : platform::Backend::Sdl)) {
    std::fprintf(stderr, "velmira: the display system could not start\n");
    LogClose();
    return 1;
  }
  // Everything the engine builds reads the clock of the recording from the
  // start (the random seed, for one).
  if (recording) platform::SetVirtualClock(true);

  // Sound: the device of the backend; a headless run mixes at the pace of its
  // virtual clock (and can write what it mixed with -audiodump). A machine
  // without a usable sound device still runs the game, silently.
  platform::AudioOptions audio;
  audio.backend = headless ? platform::AudioBackend::Null : platform::AudioBackend::Sdl;
  std::string audioDump = Argument(args, "audiodump");
  if (!audioDump.empty()) audio.dumpPath = FromStartFolder(startDir, audioDump);
  if (platform::AudioOpen(audio)) {
    if (!audioDump.empty()) std::fprintf(stderr, "velmira: cannot write the audio dump %s\n", audioDump.c_str());
    audio.backend = platform::AudioBackend::Null;
    audio.dumpPath.clear();
    platform::AudioOpen(audio);
  }

  std::string exePath = platform::GetExecutablePath();
  CDynamicVariables::Instance()->Set("ApplicationPath", exePath.substr(0, 260));

  // The game folder: the first positional argument, else the executable's folder.
  std::string gameDir = args.count("0") ? args["0"] : FolderOf(exePath);
  if (platform::SetCurrentDirectory(gameDir)) {
    std::fprintf(stderr, "velmira: cannot open the game folder %s\n", gameDir.c_str());
    platform::AudioClose();
    platform::Shutdown();
    LogClose();
    return 2;
  }
  std::string gameFolder = platform::GetCurrentDirectory();
  // Saves cut short by a kill leave their temporaries behind; the saves
  // themselves are whole (old or new).
  if (int removed = platform::RemoveStaleTemporaries(gameFolder))
    LogWrite("removed " + std::to_string(removed) + " temporary file(s) of saves that were cut short");
  StartGameFiles(gameFolder, exePath);

  int width = 800, height = 600, fps = 60;
  CIni* systemIni = LoadIni("system.ini");
  if (systemIni) {
    // A window the engine cannot make would leave the game without a
    // renderer: say so and give the side that cannot be made its default.
    const CWindowSize size = WindowSizeFromIni(systemIni);
    width = size.width;
    height = size.height;
    fps = systemIni->GetInt("WINDOW", "FPS");
    if (size.fellBack) {
      const std::string text = "system.ini: a " + std::to_string(size.askedWidth) + "x" +
                               std::to_string(size.askedHeight) + " window cannot be made (each side 1 to " +
                               std::to_string(kMaxWindowSide) + "); the game runs at " + std::to_string(width) + "x" +
                               std::to_string(height);
      LogProblem(text);
      std::fprintf(stderr, "velmira: %s\n", text.c_str());
    }
    // A configured rate drives the pacer; nonsense falls back to 60.
    if (fps < 1 || fps > 1000) fps = 60;
  } else {
    // The message names a missing file; the log says when it is there but
    // cannot be read.
    std::vector<uint8_t> unused;
    std::string why;
    if (platform::ReadWholeFile("system.ini", unused, &why) && why != "not found")
      LogProblem("system.ini cannot be read: " + why);
    StartupError(
        "システム設定ファイル system.ini が実行ファイルと同じフォルダに見つかりません。\n"
        "デフォルト設定で起動します。");
  }
  CDynamicVariables::Instance()->Set("system.ini", systemIni);

  // The GPU renderer goes ahead of software; "-renderer gles" starts it even
  // on a software rasterizer.
  RegisterGlesRenderer();
  if (args.count("screen")) {
    int sw = 0, sh = 0;
    char x = 0;
    if (std::sscanf(args["screen"].c_str(), "%d%c%d", &sw, &x, &sh) == 3 && (x == 'x' || x == 'X') && sw > 0 &&
        sh > 0 && sw <= kMaxWindowSide && sh <= kMaxWindowSide)
      platform::SetScreenSizeOverride(sw, sh);
    else
      std::fprintf(stderr, "velmira: -screen takes WIDTHxHEIGHT, not \"%s\"\n", args["screen"].c_str());
  }
  CGlesRenderer::SetAllowSoftwareRasterizer(Argument(args, "renderer") == "gles");
  auto engine = std::make_unique<CVelmira>(fps);
  bool failed =
      engine->Open(kCentreWindow, kCentreWindow, width, height, "Velmira", std::string(),
                   platform::WS_CAPTION | platform::WS_SYSMENU | platform::WS_MINIMIZEBOX, platform::SW_SHOWNORMAL, 0);
  if (failed) {
    StartupError("ウィンドウの生成に失敗したか、起動スクリプトの読み込みに失敗したため、エンジンを起動できません。");
  } else {
    // Scripted input and a frame limit, for authors and automated runs.
    std::vector<CInputDriver::Action> actions;
    std::string inputPath = Argument(args, "input");
    if (!inputPath.empty()) {
      std::vector<uint8_t> bytes;
      std::string why;
      if (platform::ReadWholeNativeFile(FromStartFolder(startDir, inputPath), bytes, &why)) {
        std::fprintf(stderr, "velmira: cannot read the input file %s (%s)\n", inputPath.c_str(), why.c_str());
      } else {
        std::vector<std::string> errors;
        actions = CInputDriver::Parse(std::string(bytes.begin(), bytes.end()), errors);
        for (const std::string& e : errors) std::fprintf(stderr, "velmira: %s: %s\n", inputPath.c_str(), e.c_str());
      }
    }
    int frameLimit = -1;
    if (args.count("frames")) {
      // A limit that is not a number must not quietly run no frames at all.
      const std::string& text = args["frames"];
      char* end = nullptr;
      const long value = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end || value < 0 || value > 1000000000) {
        std::fprintf(stderr, "velmira: -frames takes a number of frames, not \"%s\"\n", text.c_str());
        LogProblem("-frames " + text + ": not a number of frames; the run has no frame limit");
      } else {
        frameLimit = static_cast<int>(value);
      }
    }
    CInputDriver driver(engine->GetHandle(), std::move(actions), frameLimit);
    driver.SetBaseDirectory(startDir);
    driver.SetPointerOffset([window = engine.get()] { return window->GetFullscreenOffset(); });
    CMainScript* script = engine->GetMainScript();
    driver.SetDumpVariables([script]() { return script->DumpVariables(); });
    driver.SetWriter("logwindow", [] {
      const CLogWindow* window = FindLogWindow();
      return window ? window->TextUtf8() : std::string();
    });
    CGraphicSystem* graphics = engine->GetGraphicSystem();
    driver.SetWriter("dumptext", [graphics, script]() {
      std::string text = graphics ? DumpMessageWindows(*graphics) : std::string();
      if (CMessageTagState* messages = script->FindFamily<CMessageTagState>()) messages->GetBacklog().Dump(text);
      return text;
    });
    driver.SetWriter("layers", [script]() {
      std::string text;
      if (script->GetGraphics()) script->GetGraphics()->DumpLayers(text);
      return text;
    });
    driver.SetWriter("dumpsound", [script]() {
      CSoundTagState* sound = script->FindFamily<CSoundTagState>();
      return sound ? sound->Dump() : std::string();
    });
    // -record FILE: the play as a driver file, on the virtual clock.
    CInputRecorder recorder(engine->GetHandle(), engine->GetFrameTimer(), &driver);
    recorder.SetPointerOffset([window = engine.get()] { return window->GetFullscreenOffset(); });
    CGameApplication::IFrameHooks* hooks = &driver;
    if (recording) {
      const std::string path = Argument(args, "record");
      if (recorder.Open(FromStartFolder(startDir, path), gameFolder)) {
        std::fprintf(stderr, "velmira: cannot write the recording %s; the game runs without it\n", path.c_str());
        platform::SetVirtualClock(false);
      } else {
        hooks = &recorder;
      }
    }
    // -stats FILE: one CSV row per frame.
    CFrameStatsFile stats;
    const std::string statsPath = Argument(args, "stats");
    if (!statsPath.empty()) {
      if (stats.Open(FromStartFolder(startDir, statsPath))) {
        std::fprintf(stderr, "velmira: cannot write the frame statistics %s\n", statsPath.c_str());
      } else {
        engine->SetFrameStatsSink(&stats);
      }
    }
    engine->SetFrameHooks(hooks);
    engine->Run();
    engine->SetFrameHooks(nullptr);
    engine->SetFrameStatsSink(nullptr);
    if (!statsPath.empty() && stats.Close())
      std::fprintf(stderr, "velmira: the frame statistics %s are incomplete\n", statsPath.c_str());
    if (recording && recorder.Close())
      std::fprintf(stderr, "velmira: the recording %s is incomplete\n", Argument(args, "record").c_str());
    platform::SetVirtualClock(false);
  }
  engine.reset();
  // Tweens may hold callbacks into what the engine owned; none may run or
  // outlive the process's singletons.
  CTweenRegistry::Instance().DeleteAll();

  // Process-wide singletons go in a fixed order.
  CGlyphGenerator::DestroyInstance();
  platform::ShutdownFontBackend();
  DestroyLogWindow();
  CInputState::Destroy();
  ReleaseIniCache();
  CTimerResolution::Destroy();
  CDynamicVariables::Destroy();
  platform::AudioClose();
  platform::Shutdown();
  LogClose();
  platform::SetCurrentDirectory(startDir);
  // -strict (for a game's own CI): a headless run that reported any problem
  // fails, so a broken script cannot pass unnoticed.
  if (strict && LogProblemCount() != problemsBefore) {
    std::fprintf(stderr, "velmira: %zu problem(s) reported (-strict)\n", LogProblemCount() - problemsBefore);
    return 3;
  }
  return 0;
}
