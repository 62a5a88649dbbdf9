#include "engine/EngineMain.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "files/Config.h"
#include "platform/TextCodec.h"
#include "engine/InputDriver.h"
#include "script/tags/SoundTags.h"
#include "platform/InputState.h"
#include "platform/Log.h"
#include "platform/TimerResolution.h"
#include "engine/Velmira.h"
#include "platform/Audio.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "script/MainScript.h"

namespace {

const std::string& StartupCaption() {
  static const std::string text = Utf8ToCp932("起動エラー");
  return text;
}

void StartupError(const std::string& utf8Text) {
  std::string text = Utf8ToCp932(utf8Text);
  LogWrite(StartupCaption() + ": " + text);
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

std::string BaseNameWithoutExtension(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The engine's names are CP932 with backslashes, as games written for
// Windows expect; the file layer maps them back.
std::string ToEnginePath(const std::string& native) {
  std::string path = Utf8ToCp932(native);
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

int RunEngine(int argc, char** argv) {
  // Command line: options begin with '-' (a '/' starts an absolute path here).
  std::string commandLine = JoinCommandLine(argc - 1, argv + 1);
  ArgumentMap args;
  ParseCommandLine(commandLine.c_str(), args, false, {"fsr", "headless"});
  CDynamicVariables::Instance()->Set("ApplicationArguments", args);

  bool headless = args.count("headless") != 0;
  std::string startDir = platform::GetCurrentDirectory();
  std::string logPath = Argument(args, "log");
  if (!logPath.empty() && LogOpen(FromStartFolder(startDir, logPath))) {
    std::fprintf(stderr, "velmira: cannot write the log file %s\n", logPath.c_str());
  }
  if (platform::Init(headless ? platform::Backend::Headless : platform::Backend::Sdl)) {
    std::fprintf(stderr, "velmira: the display system could not start\n");
    LogClose();
    return 1;
  }

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
  SetRootArchivePath(ToEnginePath(gameFolder) + "\\" + Utf8ToCp932(BaseNameWithoutExtension(exePath)) +
                     GetArchiveExtension());

  int width = 800, height = 600, fps = 60;
  CIni* systemIni = LoadIni("system.ini");
  if (systemIni) {
    width = systemIni->GetInt("WINDOW", "WIDTH");
    height = systemIni->GetInt("WINDOW", "HEIGHT");
    fps = systemIni->GetInt("WINDOW", "FPS");
    // A configured rate drives the pacer; nonsense falls back to 60.
    if (fps < 1 || fps > 1000) fps = 60;
  } else {
    StartupError(
        "システム設定ファイル system.ini が実行ファイルと同じフォルダに見つかりません。\n"
        "デフォルト設定で起動します。");
  }
  CDynamicVariables::Instance()->Set("system.ini", systemIni);

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
      if (platform::ReadWholeFile(Utf8ToCp932(FromStartFolder(startDir, inputPath)), bytes)) {
        std::fprintf(stderr, "velmira: cannot read the input file %s\n", inputPath.c_str());
      } else {
        std::vector<std::string> errors;
        actions = CInputDriver::Parse(std::string(bytes.begin(), bytes.end()), errors);
        for (const std::string& e : errors) std::fprintf(stderr, "velmira: %s: %s\n", inputPath.c_str(), e.c_str());
      }
    }
    int frameLimit = args.count("frames") ? std::atoi(args["frames"].c_str()) : -1;
    CInputDriver driver(engine->GetHandle(), std::move(actions), frameLimit);
    driver.SetBaseDirectory(startDir);
    CMainScript* script = engine->GetMainScript();
    driver.SetDumpVariables([script]() { return script->DumpVariables(); });
    driver.SetDumpSound([script]() {
      CSoundTagState* sound = script->FindFamily<CSoundTagState>();
      return sound ? sound->Dump() : std::string();
    });
    engine->SetFrameHooks(&driver);
    engine->Run();
    engine->SetFrameHooks(nullptr);
  }
  engine.reset();

  // Process-wide singletons go in a fixed order.
  CInputState::Destroy();
  ReleaseIniCache();
  CTimerResolution::Destroy();
  CDynamicVariables::Destroy();
  platform::AudioClose();
  platform::Shutdown();
  LogClose();
  platform::SetCurrentDirectory(startDir);
  return 0;
}
