// System tags: debug, caption, autosave, rclick, wait, automode, skip, exec,
// macroadd and the tags whose subsystems come later (save, load and reset are
// the save family's).
#include "script/tags/SystemTags.h"

#include "platform/Browser.h"
#include "platform/Log.h"
#include "graphics/Surface.h"
#include "platform/Platform.h"
#include "platform/TextCodec.h"
#include "scene/GraphicRenderer.h"
#include "scene/GraphicSystem.h"
#include "scene/Layer.h"
#include "scene/LayerSet.h"
#include "scene/Tween.h"
#include "script/MainScript.h"
#include "script/tags/MessageTags.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"
#include "ui/UISlider.h"
#include "vars/QelVariables.h"
#include "video/VideoPlayer.h"

CSystemTagState::~CSystemTagState() = default;

namespace {

// The fades of the hide and backlog paths: whatever the layer was doing
// ends first, then its alpha runs linearly over one second.
void FadeLayer(CGraphicSystem& graphics, const std::string& id, bool in) {
  graphics.KillLayerTweens(id);
  IVirtualLayer* layer = graphics.GetFrontSet().Find(id);
  if (!layer) layer = graphics.GetBackSet().Find(id);
  if (!layer) return;
  const int32_t from = in ? 0 : 255, to = in ? 255 : 0;
  auto setter = MakeLayerSetter(layer, kPropAlpha);
  setter(from);
  graphics.AddLayerTween(id,
                         CTweenRegistry::Instance().Register(std::make_unique<CIntTween>(setter, from, to, 1000, 0)));
}

}  // namespace

void CSystemTagState::FadeHidePath(CMainScript& script, ScriptEvent event) {
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return;
  const bool hiding = event == ScriptEvent::kMessagesHidden || event == ScriptEvent::kBacklogOpened;
  const bool backlog = event == ScriptEvent::kBacklogOpened || event == ScriptEvent::kBacklogClosed;
  for (const std::string& id : backlog ? m_backlogHideLayers : m_hideLayers) FadeLayer(*graphics, id, !hiding);
  if (!backlog) return;
  const CMessageTagState* message = script.FindFamily<CMessageTagState>();
  auto icon = m_backlogIcons.find(message ? message->m_currentWindowId : std::string());
  if (icon != m_backlogIcons.end() && icon->second.m_on && !icon->second.m_layer.empty())
    FadeLayer(*graphics, icon->second.m_layer, hiding);
}

void CSystemTagState::OnEvent(CMainScript& script, ScriptEvent event) {
  switch (event) {
    case ScriptEvent::kMessagesHidden:
    case ScriptEvent::kMessagesShown:
    case ScriptEvent::kBacklogOpened:
    case ScriptEvent::kBacklogClosed: FadeHidePath(script, event); return;
    case ScriptEvent::kAutoModeOn:
    case ScriptEvent::kAutoModeOff: ShowAutoIcon(script, event == ScriptEvent::kAutoModeOn); return;
    default: break;
  }
  if (event != ScriptEvent::kBoot) return;
  if (m_video) m_video->Stop();
  // The caption stays: the window keeps its title across a restart.
  m_autoSyncList.clear();
  m_autoIcons.clear();
  m_backlogIcons.clear();
}

void CSystemTagState::ShowAutoIcon(CMainScript& script, bool show) {
  const CMessageTagState* message = script.FindFamily<CMessageTagState>();
  auto it = m_autoIcons.find(message ? message->m_currentWindowId : std::string());
  if (it == m_autoIcons.end() || !it->second.m_on || it->second.m_layer.empty()) return;
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) return;
  // At once in both sets: the icon answers the key, not the next commit.
  for (CLayerSet* set : {&graphics->GetFrontSet(), &graphics->GetBackSet()})
    if (IVirtualLayer* layer = set->Find(it->second.m_layer)) layer->SetVisible(show);
}

bool CSystemTagState::PollMovie(CMainScript& script, bool stop) {
  if (!m_video) return false;
  // The click or key that brought the script to the video tag in this
  // frame was meant for what came before; skipping still ends the movie.
  if (m_videoJustStarted && !script.IsSkipping()) stop = false;
  m_videoJustStarted = false;
  m_video->Update();
  if (stop) m_video->Stop();
  return m_video->IsPlaying();
}

namespace {

using State = CSystemTagState;

// The graphic system's movie player: while it plays the render step draws
// its picture instead of the scene.
CVideoPlayer* VideoPlayer(State& state, CGraphicSystem* graphics) {
  if (state.m_video || !graphics) return state.m_video.get();
  state.m_video = std::make_shared<CVideoPlayer>(graphics->GetWidth(), graphics->GetHeight());
  // A renderer without a memory target (the GPU one) is given the picture
  // through one of its own surfaces and a layer.
  struct CFrameLayer {
    std::unique_ptr<ISurface> surface;
    std::unique_ptr<ILayer> layer;
  };
  auto frame = std::make_shared<CFrameLayer>();
  graphics->SetMovieCheck([player = state.m_video, graphics, frame] {
    if (!player->IsPlaying()) return false;
    player->Update();
    // The frame the movie ends in already shows the scene again.
    if (!player->IsPlaying()) return false;
    if (graphics->HasRenderer()) {
      CGraphicRenderer* renderer = graphics->GetRenderer();
      renderer->RenderStart();
      if (ISurface* target = renderer->GetRenderTarget()) {
        player->Draw(target);
      } else if (graphics->GetSurfaceFactory() && graphics->GetLayerFactory()) {
        if (!frame->surface) {
          frame->surface.reset(graphics->GetSurfaceFactory()->Create());
          frame->layer.reset(graphics->GetLayerFactory()->Create());
          if (frame->surface->Create(graphics->GetWidth(), graphics->GetHeight(), ISurface::PIXEL_BITS_32))
            frame->surface.reset();
          else
            frame->layer->SetSurface(frame->surface.get());
        }
        if (frame->surface) {
          player->Draw(frame->surface.get());
          frame->layer->Draw(nullptr);
        }
      }
      renderer->RenderEnd();
    }
    return true;
  });
  return state.m_video.get();
}

bool Video(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  script.SetState(CMainScript::kVideoWait);
  CVideoPlayer* player = VideoPlayer(state, script.GetGraphics());
  const std::string& file = record.GetAttribute("file");
  state.m_videoJustStarted = true;
  if (CGraphicSystem* graphics = script.GetGraphics()) graphics->KeepPictureUnderMovie();
  // A movie that cannot play is skipped without a word to the player or
  // the error channels (the lint tool names it); the -log keeps why. The
  // wait ends at the next turn, as for a movie that ended.
  if (!player) {
    LogWrite(FormatTagReport(script.GetCursor().m_file, record.m_line, record.m_text + " file=\"" + file + "\"",
                             Utf8ToCp932("動画を再生できません。")));
  } else if (player->Play(file.c_str())) {
    LogWrite(FormatTagReport(script.GetCursor().m_file, record.m_line, record.m_text + " file=\"" + file + "\"",
                             Utf8ToCp932("動画を再生できません。") + "(" + player->GetError() + ")"));
  }
  return false;
}

bool Slider(State&, CMainScript& script, const CScriptBlock& record, bool) {
  static const std::string message = Utf8ToCp932("パラメータが不足しているか、間違っています。");
  CGraphicSystem* graphics = script.GetGraphics();
  if (!graphics) {
    script.ReportTag(record, message);
    return false;
  }
  auto slider = std::make_unique<CUISlider>(graphics->GetLayerFactory(), graphics->GetSurfaceFactory(),
                                            graphics->GetLoaders(), script.GetInput());
  CUIParams params;
  params["x"] = int32_t(tagutil::Atoi(record.GetAttribute("x")));
  params["y"] = int32_t(tagutil::Atoi(record.GetAttribute("y")));
  if (record.HasAttribute("width")) params["width"] = int32_t(tagutil::Atoi(record.GetAttribute("width")));
  if (record.HasAttribute("height")) params["height"] = int32_t(tagutil::Atoi(record.GetAttribute("height")));
  params["background_path"] = record.GetAttribute("background_path");
  params["controller_path"] = record.GetAttribute("controller_path");
  params["var_min"] = int32_t(tagutil::Atoi(record.GetAttribute("var_min")));
  params["var_max"] = int32_t(tagutil::Atoi(record.GetAttribute("var_max")));
  const std::string name = record.GetAttribute("var_name");
  params["var_now"] = int32_t(script.GetVariables().GetInt(name));
  params["onslide"] =
      CUISlider::SlideCallback([&script, name](int32_t value) { script.GetVariables().SetInt(name, value); });
  if (slider->Setup(params)) {
    script.ReportTag(record, message);
    return false;
  }
  graphics->SetWidget(record.GetAttribute("id"), std::move(slider));
  return false;
}

bool UiDel(State&, CMainScript& script, const CScriptBlock& record, bool) {
  if (CGraphicSystem* graphics = script.GetGraphics()) graphics->RemoveWidget(record.GetAttribute("id"));
  return false;
}

bool Debug(State&, CMainScript& script, const CScriptBlock& record, bool) {
  // Mode 1 opens the log window at its first line, mode 2 the debugging
  // channel and mode 3 the debugging server.
  script.SetErrorMode(tagutil::Atoi(record.GetAttribute("mode")));
  return false;
}

bool Caption(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  state.m_caption = record.GetAttribute("data");
  CGraphicSystem* graphics = script.GetGraphics();
  if (graphics && graphics->GetWindowHandle()) platform::SetWindowTitle(graphics->GetWindowHandle(), state.m_caption);
  return false;
}

bool Nothing(State&, CMainScript&, const CScriptBlock&, bool) { return false; }

bool Autosave(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1" || allow == "2") script.SetAutosaveMode(allow[0] - '0');
  return false;
}

bool Rclick(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0") script.SetRightClickEnabled(false);
  if (allow == "1") script.SetRightClickEnabled(true);
  return false;
}

bool Wait(State&, CMainScript& script, const CScriptBlock& record, bool) {
  // The current window's running effects end; its new text starts to
  // appear (while skipping only for a wait on the effects themselves).
  const bool scenario = record.HasAttribute("scenario");
  BeginMessageWait(script, scenario);
  if (scenario) {
    script.SetWaitTextEffects(true);
    script.SetState(CMainScript::kSyncWait);
    return true;
  }
  uint32_t deadline = platform::GetTimeMs() + static_cast<uint32_t>(tagutil::Atoi(record.GetAttribute("time")));
  if (deadline == 0) deadline = 1;  // 0 means no deadline
  script.SetWaitDeadline(deadline);
  const std::string& input = record.GetAttribute("input");
  if (input == "1") {
    script.SetState(CMainScript::kClickWait);
  } else if (input == "2" && script.IsSkipping()) {
    // No wait is entered, so no deadline may be left behind: it would end
    // the next click wait on its own.
    script.SetWaitDeadline(0);
  } else {
    script.SetState(CMainScript::kTimedWait);
  }
  return true;
}

bool Automode(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  const CMessageTagState* message = script.FindFamily<CMessageTagState>();
  CMainScript::CIconInfo& icon = state.m_autoIcons[message ? message->m_currentWindowId : std::string()];
  if (record.HasAttribute("layer")) {
    icon.m_on = true;
    icon.m_layer = record.GetAttribute("layer");
  } else {
    icon.m_on = false;
  }
  if (record.HasAttribute("syncse")) state.m_autoSyncList = tagutil::SplitCommaList(record.GetAttribute("syncse"));
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") script.SetAutoAllowed(allow == "1");
  return false;
}

bool Skip(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") script.SetSkipAllowed(allow == "1");
  return false;
}

bool Exec(State&, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& command = record.GetAttribute("command");
  if (command == "rclick") {
    script.RequestRightClickMenu();
  } else if (command == "skip") {
    script.SetSkip(!script.IsSkipOn());
  } else if (command == "automode") {
    script.SetAutoMode(true);
  } else if (command == "hide") {
    script.RequestHide();
  } else if (command == "backlog") {
    script.RequestBacklog();
  }
  return false;
}

bool OpenBrowser(State&, CMainScript& script, const CScriptBlock& record, bool) {
  // Only web addresses: the desktop's opener would as well start a program
  // or open a local file named by a script string.
  const std::string url = Cp932ToUtf8(record.GetAttribute("url"));
  if (!platform::IsWebAddress(url)) {
    script.ReportTag(record, Utf8ToCp932("パラメータが不足しているか、間違っています。"));
    return false;
  }
  if (platform::OpenBrowser(url)) LogWrite("openbrowser: the browser could not be started for " + url);
  return false;
}

void ReplaceLayerSet(std::set<std::string>& layers, const std::string& list) {
  layers.clear();
  for (std::string& id : tagutil::SplitCommaList(list)) layers.insert(std::move(id));
}

bool Hide(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") script.SetHideAllowed(allow == "1");
  if (record.HasAttribute("window")) ReplaceLayerSet(state.m_hideLayers, record.GetAttribute("window"));
  return false;
}

bool Backlog(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& allow = record.GetAttribute("allow");
  if (allow == "0" || allow == "1") script.SetBacklogAllowed(allow == "1");
  const CMessageTagState* message = script.FindFamily<CMessageTagState>();
  CMainScript::CIconInfo& icon = state.m_backlogIcons[message ? message->m_currentWindowId : std::string()];
  if (record.HasAttribute("layer")) {
    icon.m_on = true;
    icon.m_layer = record.GetAttribute("layer");
  } else {
    icon.m_on = false;
  }
  if (record.HasAttribute("hide")) ReplaceLayerSet(state.m_backlogHideLayers, record.GetAttribute("hide"));
  return false;
}

bool MacroAdd(State&, CMainScript& script, const CScriptBlock& record, bool) {
  script.AddMacroFile(record.GetAttribute("file"));
  return false;
}

}  // namespace

void AddSystemTags(CTagRegistry& registry) {
  using tagutil::NotYet;
  const TagReplay kNone = TagReplay::kNone;
  const std::vector<std::string> allow = {"allow"};
  const std::vector<std::string> file = {"file"};
  tagutil::AddFamilyOrDie(
      registry, "system", &CreateFamilyState<State>,
      {
          TagRow<&Debug>("debug", {"mode"}, kNone,
                         "sets where reports go: 0 nowhere, 1 log window, 2 channel, 3 server"),
          TagRow<&Caption>("caption", {"data"}, kNone, "sets the window title"),
          TagRow<&Nothing>("direction", {"dir"}, kNone, "no effect (kept for old scripts)"),
          TagRow<&Nothing>("setondirchg", {}, kNone, "no effect (kept for old scripts)"),
          TagRow<&Nothing>("delondirchg", {}, kNone, "no effect (kept for old scripts)"),
          TagRow<&OpenBrowser>("openbrowser", {"url"}, kNone, "opens a web address in the browser"),
          TagRow<&Autosave>("autosave", allow, kNone, "autosave mode: 0 never, 1 on closing, 2 also at every wait"),
          TagRow<&Rclick>("rclick", allow, kNone, "allows or forbids the right-click menu (rclick.iet)"),
          TagRow<&Slider>("slider",
                          {"x", "y", "background_path", "controller_path", "var_min", "var_max", "var_name", "id"},
                          kNone, "places a slider bound to a variable"),
          TagRow<&UiDel>("uidel", {"id"}, kNone, "removes a widget"),
          TagRow<&Wait>("wait", {}, kNone, "waits for a time, a click, or the window's text effects"),
          TagRow<&Automode>("automode", allow, kNone, "allows auto mode; sets its icon layer and sync list"),
          TagRow<&Skip>("skip", allow, kNone, "allows or forbids skipping"),
          TagRow<&Hide>("hide", allow, kNone, "allows hiding the message windows; sets the layers hidden"),
          TagRow<&Backlog>("backlog", allow, kNone, "allows the backlog; sets its icon and the layers it hides"),
          TagRow<&Exec>("exec", {"command"}, kNone, "does what a key would: rclick, skip, automode, hide, backlog"),
          TagRow<&Video>("video", file, kNone, "plays a movie over the scene"),
          TagRow<&MacroAdd>("macroadd", file, kNone, "adds a script file that holds macros"),
      });
}
